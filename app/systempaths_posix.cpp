#include "systempaths.h"

#include "textlinereader.h"

QString fileSystemPath(const QString &systemPath) {
    return TextLineReader::toFileSystemPath(systemPath);
}

QString shownPath(const QString &chosenPath) {
    return chosenPath;
}
