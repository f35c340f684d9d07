#include "ui/Messages.h"

#include <QStringList>
#include <algorithm>

#include "ui/PathListModel.h"

namespace ostrivane::messages {
namespace {

// "path: reason", one line per failure, for the first kFailuresListed of them.
QString FailureLines(const std::vector<Failure>& failures) {
    QStringList lines;
    const auto listed = std::min<size_t>(failures.size(), kFailuresListed);
    for (size_t i = 0; i < listed; ++i) {
        lines << FromPath(failures[i].path) + QStringLiteral(": ") +
                     QString::fromStdString(failures[i].reason);
    }
    return lines.join(QLatin1Char('\n'));
}

// The count of failed items with `what` ("项未能完成"), and how many of them follow by name.
QString FailureHeading(size_t count, const QString& what) {
    QString heading = QStringLiteral("有 %1 %2").arg(count).arg(what);
    if (count > static_cast<size_t>(kFailuresListed)) {
        return heading + QStringLiteral("，以下是前 %1 项：").arg(kFailuresListed);
    }
    return heading + QStringLiteral("：");
}

// `first`, then, when some items failed, their number and the first of them.
QString RunEndText(const QString& first, const std::vector<Failure>& failures) {
    if (failures.empty()) return first;
    return first + QStringLiteral("\n\n") +
           FailureHeading(failures.size(), QStringLiteral("项未能完成")) + QLatin1Char('\n') +
           FailureLines(failures);
}

}  // namespace

QString VerifiedCopiesText(std::uint64_t count) {
    return QStringLiteral("已校验 %1 个副本：从目标设备读回，与源文件一致。").arg(count);
}

QString ErrorBoxText(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return QString::fromStdString(text);
}

QString CopyCompletionText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyDone, failures);
}

QString CopyStoppedText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyStopped, failures);
}

QString CopyEndedText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyEnded, failures);
}

QString EmptyingStoppedText(const std::vector<Failure>& leftOver) {
    if (leftOver.empty()) return kEmptyingStopped;
    return kEmptyingStopped + QStringLiteral("\n\n目标文件夹下仍") +
           FailureHeading(leftOver.size(), QStringLiteral("项未能删除")) + QLatin1Char('\n') +
           FailureLines(leftOver);
}

QString FailureDetails(const std::vector<Failure>& failures) {
    QStringList lines;
    for (const Failure& failure : failures) {
        lines << FromPath(failure.path) + QStringLiteral(": ") +
                     QString::fromStdString(failure.reason);
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {

QByteArray CsvField(const QString& text) {
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

}  // namespace

QByteArray FailureReportCsv(const std::vector<Failure>& failures) {
    QByteArray csv("\xEF\xBB\xBF");
    csv += CsvField(QStringLiteral("路径")) + ',' + CsvField(QStringLiteral("原因")) + "\r\n";
    for (const Failure& failure : failures) {
        csv += CsvField(FromPath(failure.path)) + ',' +
               CsvField(QString::fromStdString(failure.reason)) + "\r\n";
    }
    return csv;
}

QString EmptyingCompletionText(const std::vector<Failure>& leftOver) {
    if (leftOver.empty()) return kEmptyingDone;
    return QStringLiteral("目标文件夹下仍") +
           FailureHeading(leftOver.size(), QStringLiteral("项未能删除")) + QLatin1Char('\n') +
           FailureLines(leftOver);
}

}  // namespace ostrivane::messages
