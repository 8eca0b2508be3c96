#include "app/MainForm.h"

#include "app/CommandLine.h"
#include "app/OpenDialog.h"
#include "platform/Anchors.h"
#include "platform/OutsideMessages.h"
#include "platform/Platform.h"
#include "platform/WindowThreadCall.h"

#include <QTimer>

std::atomic<TMainForm*> MainForm = nullptr;

MainWindowPointer::MainWindowPointer(TMainForm* window) : window_(window)
{
    MainForm = window;
}

MainWindowPointer::~MainWindowPointer()
{
    // Only this window's own entry: a test may have built another window meanwhile.
    TMainForm* expected = window_;
    MainForm.compare_exchange_strong(expected, nullptr);
}

namespace {
QFont PixelFont(const QFont& base, int pixels, bool bold = false)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// "Caption|*.ext|..." as the dialog's name filters.
QStringList DialogNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return filters;
}
}  // namespace

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent) : QWidget(parent)
{
    SetUpLayout();
    // Workers hand their log lines and results to this window's thread through it; what a
    // handed-over call raises is reported like any other error of the window.
    InstallWindowThreadCalls(this, [this](std::exception_ptr error) { ReportError(error); });
    SetUpLogView();

    // LoadedFirmware, ExeDirectory, DeviceList, the flags and DeviceListLock start as declared.
    RescanTimer = new QTimer(this);
    RescanTimer->setObjectName(QStringLiteral("RescanTimer"));
    RescanTimer->setInterval(3000);

    SetUpDiscovery();
    SetUpWriteSessions();

    connect(btnFwLoad, &QPushButton::clicked, this, &TMainForm::btnFwLoadClick);
    connect(btnFwOpen, &QPushButton::clicked, this, &TMainForm::btnFwOpenClick);

    const CommandLineOptions options = ParseCommandLine(arguments, CommandLinePathRule());
    ExternalFirmwareAllowed = options.ExternalFirmwareAllowed;
    SkipCompatibilityCheck = options.SkipCompatibilityCheck;
    if (!options.FirmwareFile.isEmpty()) edFWFile->setEditText(options.FirmwareFile);
}

TMainForm::~TMainForm()
{
    // Destroyed at the end of the run, while every control still exists. A window that ran no
    // show sequence still stops its passes: none may outlive the records it works on.
    if (showSequenceRan_)
        FormDestroy();
    else
        StopWorkers();
}

void TMainForm::SetUpLayout()
{
    setupUi(this);

    QFont windowFont(QStringLiteral("Tahoma"));
    windowFont.setPixelSize(11);
    setFont(windowFont);
    for (QLabel* label : {lblFileName, lblFileDate, lblFileVersion})
        label->setFont(PixelFont(windowFont, 16));
    for (QLabel* label : {lblFirmwDate, lblFileVer})
        label->setFont(PixelFont(windowFont, 13, true));
    for (QCheckBox* box : {cbAutoWrite, cbStartApp, cbWritelogToFile})
        box->setFont(PixelFont(windowFont, 13));
    reLog->setFont(PixelFont(windowFont, 11));

    edFWFile->setCompleter(nullptr);
    edFWFile->setInsertPolicy(QComboBox::NoInsert);

    // The group's controls were placed for the design width; keep their anchoring on resize.
    fileGroupAnchors_ = new Anchors(gbFile, kDesignClientWidth - 6);
    for (QWidget* w : {static_cast<QWidget*>(lblFileName), static_cast<QWidget*>(lblFileDate),
                       static_cast<QWidget*>(lblFirmwDate), static_cast<QWidget*>(cbAutoWrite),
                       static_cast<QWidget*>(cbStartApp)})
        fileGroupAnchors_->Add(w, Anchors::Left);
    fileGroupAnchors_->Add(edFWFile, Anchors::Left | Anchors::Right);
    for (QWidget* w : {static_cast<QWidget*>(btnFwOpen), static_cast<QWidget*>(btnFwLoad),
                       static_cast<QWidget*>(lblFileVersion), static_cast<QWidget*>(lblFileVer),
                       static_cast<QWidget*>(cbWritelogToFile)})
        fileGroupAnchors_->Add(w, Anchors::Right);

    FitLabelsToText();

    // The log keeps its height when the window grows; the device area takes the rest.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    const int panelHeight = kDesignClientHeight - 116;
    Splitter1->setSizes(
        {panelHeight - kDesignLogHeight - Splitter1->handleWidth(), kDesignLogHeight});
    DevPanel->setMinimumHeight(kDevPanelMinimumHeight);

    DevTimer = new QTimer(this);
    DevTimer->setObjectName(QStringLiteral("DevTimer"));
    DevTimer->setInterval(100);
    DevTimer->start();

    OpenDialog1 = std::make_unique<TOpenDialog>(
        this, DialogNameFilters(QString::fromLatin1(kOpenDialogFilter)));

    resize(kDesignClientWidth, kDesignClientHeight);
    setMinimumWidth(kMinimumWindowWidth);
    move(0, 0);
}

void TMainForm::FitLabelsToText()
{
    for (QLabel* label : {lblFileName, lblFileDate, lblFirmwDate, lblFileVersion, lblFileVer}) {
        QRect design = fileGroupAnchors_->Design(label);
        const int needed = label->sizeHint().width();
        if (needed <= design.width()) continue;
        if (label->alignment() & Qt::AlignRight)
            design.setLeft(design.right() + 1 - needed);
        else
            design.setWidth(needed);
        fileGroupAnchors_->SetDesign(label, design);
    }
}

void TMainForm::HandleWindowMessage(quint32 message, quint64 wParam)
{
    if (message == kRestoreMessage) {
        if (windowState() & Qt::WindowMinimized) {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
        }
    } else if (message == kDeviceChangeMessage) {
        WMDeviceChange(wParam);
    }
}
