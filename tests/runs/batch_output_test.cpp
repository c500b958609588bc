#include "runs/batch_output.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace runs {
namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// The command line's replacement is written in large pieces, the window's
// file after every host: either way every line arrives, once, in list
// order, and a reader of the replaced file sees the old results until the
// end.
TEST(BatchOutput, WritesEveryHeldLineOnceInOrderWhateverItHoldsBack)
{
    constexpr int kHosts = 3000;  // past what a replacement holds back, in both formats
    for (const OutputFormat format : {OutputFormat::Text, OutputFormat::JsonLines}) {
        for (const bool replace : {true, false}) {
            SCOPED_TRACE(testing::Message() << "json " << (format == OutputFormat::JsonLines) << " replace " << replace);
            QTemporaryDir dir;
            const QString path = dir.filePath("down.txt");
            platform::FileSystemObject files;
            files.CreateTextFile(path, true).WriteLine("old");
            BatchOutput output(files, {.path = path, .replaceWhenDone = replace}, format);
            for (int line = 1; line <= kHosts; ++line) {
                HostResult result;
                result.line = line;
                result.host = QString("h%1").arg(line);
                result.status = 11010;
                output.Hold(result);
                if (output.FlushDue())
                    output.Flush();
                if (!replace && format == OutputFormat::Text) {
                    ASSERT_EQ(contents(path).count('\n'), line);  // on the disk before the next echo
                }
            }
            if (replace) {
                EXPECT_EQ(contents(path), "old\r\n");
            }
            output.Close();
            const QList<QByteArray> lines = contents(path).split('\n');
            const int framing = format == OutputFormat::JsonLines ? 2 : 0;
            ASSERT_EQ(lines.size(), kHosts + framing + 1);
            for (int line = 1; line <= kHosts; ++line)
                ASSERT_TRUE(lines[line - 1 + framing / 2].contains(QString("h%1").arg(line).toUtf8() +
                                                                   (format == OutputFormat::Text ? " - " : "\"")))
                    << lines[line - 1 + framing / 2].constData();
        }
    }
}

}  // namespace
}  // namespace runs
