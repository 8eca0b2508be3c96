#include "platform/UiFonts.h"

#include <QFont>
#include <QStringList>

void InstallUiFontSubstitutes()
{
    // Tried in this order; a face that is missing is skipped, and with none of them the system's
    // own fallback applies as before.
    QFont::insertSubstitutions(
        QStringLiteral("Tahoma"),
        QStringList{QStringLiteral("Nimbus Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial")});
}
