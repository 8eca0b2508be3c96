#pragma once
// Where the loader keeps what it writes: its settings file and its Logs folder.

#include <QString>

struct LoaderFolders {
    QString Settings;  // the folder of GXFWLoader.ini, with its trailing separator
    QString Logs;      // the folder that holds Logs/, with its trailing separator
};

// Beside the executable (exeDirectory, with its trailing separator) wherever the user may write
// there: a build tree, a copy on a stick. An installed loader's folder belongs to the system, so
// there the settings go to the user's configuration folder and the logs to the user's state
// folder, each in a folder "GXFWLoader" of its own. Creates nothing.
LoaderFolders ChooseLoaderFolders(const QString& exeDirectory);
