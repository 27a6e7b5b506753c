// Runs every kept input of each fuzz target (tests/fuzz/corpus/<target>/) once, under the
// sanitizers of the test build: what a fuzzer found stays found.
#include "tests/fuzz/fuzz_target.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <map>
#include <string>

namespace kvfuzz {

static std::map<std::string, Target> &targets() {
    static std::map<std::string, Target> all;
    return all;
}

bool add(const char *name, Target target) {
    targets()[name] = target;
    return true;
}

} // namespace kvfuzz

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (const auto &[name, target] : kvfuzz::targets()) {
        const QDir dir(QString::fromLocal8Bit(argv[1]) + '/' + QString::fromStdString(name));
        const QStringList files = dir.entryList(QDir::Files);
        if (files.isEmpty()) {
            std::fprintf(stderr, "%s: no corpus in %s\n", name.c_str(), qPrintable(dir.path()));
            ++failures;
        }
        for (const QString &file : files) {
            QFile input(dir.filePath(file));
            if (!input.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "%s: cannot read %s\n", name.c_str(), qPrintable(file));
                ++failures;
                continue;
            }
            const QByteArray bytes = input.readAll();
            target(reinterpret_cast<const std::uint8_t *>(bytes.constData()), size_t(bytes.size()));
        }
        std::printf("%s: %lld inputs\n", name.c_str(), static_cast<long long>(files.size()));
    }
    return failures == 0 ? 0 : 1;
}
