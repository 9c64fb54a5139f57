// Saves the settings file at argv[1] over and over, alternating between the two contents of
// settingswriter.h, until it is killed. Prints "saving" once the first save is done.
#include "settingswriter.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: settingswriter FILE\n", stderr);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QString contents[2] = {SettingsWriter::content(0), SettingsWriter::content(1)};
    for (unsigned long n = 0;; ++n) {
        QString error;
        if (!SettingsFile::save(path, contents[n % 2], &error)) {
            std::fprintf(stderr, "settingswriter: %s\n", qPrintable(error));
            return 1;
        }
        if (n == 0) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}
