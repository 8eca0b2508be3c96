#include "platform/DataFolders.h"

// On Windows the loader keeps its settings and logs beside the executable, as it always has.
LoaderFolders ChooseLoaderFolders(const QString& exeDirectory)
{
    return {exeDirectory, exeDirectory};
}
