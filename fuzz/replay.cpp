// SPDX-License-Identifier: MIT
// Runs a fuzz target over stored inputs, the way the fuzzer replays a corpus:
// every file in the directory named, in name order for repeatable runs. Lets
// the ordinary build test the corpora.
#include <QDir>

void fuzz(QByteArrayView in); // as LLVMFuzzerTestOneInput calls it: never with an empty input

int main(int, char **argv)
{
    const QFileInfoList inputs = QDir(argv[1]).entryInfoList(QDir::Files); // by name
    for (const QFileInfo &input : inputs) {
        QFile file(input.filePath());
        if (file.open(QIODevice::ReadOnly) && file.size() > 0)
            fuzz(file.readAll());
    }
    return inputs.isEmpty() ? 2 : 0;
}
