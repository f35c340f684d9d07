#include "ui/Prompts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/Messages.h"
#include "ui/Unit2.h"

namespace ostrivane {
namespace {

// The least width of a box's text: a box sized to a short text would be narrower than its
// caption, which the window manager then cuts ("Ost…ne").
constexpr int kBoxTextMinWidth = 260;
// The width of the Ask question's text, the same for every question so the buttons stay
// where they were; a longer path wraps.
constexpr int kQuestionTextWidth = 520;

void SetTextWidth(QMessageBox& box, int minimum) {
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }").arg(minimum));
}

// A box with the given icon and buttons; the buttons speak Chinese whatever the locale.
int ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, kApplicationTitle, text, buttons, parent);
    box.setWindowModality(Qt::ApplicationModal);
    SetTextWidth(box, kBoxTextMinWidth);
    if (auto* yes = box.button(QMessageBox::Yes)) yes->setText(QString::fromUtf8(app::kYes));
    if (auto* no = box.button(QMessageBox::No)) no->setText(QString::fromUtf8(app::kNo));
    if (auto* ok = box.button(QMessageBox::Ok)) ok->setText(QString::fromUtf8(app::kOk));
    box.setDefaultButton(defaultButton);
    // The normal pointer while a box waits, even inside a run that shows the busy one.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int answer = box.exec();
    QGuiApplication::restoreOverrideCursor();
    return answer;
}

// An open or save dialog set up the common way: resizable, modal, the given filter.
void PrepareFileDialog(QFileDialog& dialog, const FileRequest& request) {
    dialog.setObjectName(request.name);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setNameFilter(request.filter);
}

}  // namespace

void DialogPrompts::information(const QString& text) {
    ShowBox(parent_, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool DialogPrompts::question(const QString& text) {
    return ShowBox(parent_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Yes) == QMessageBox::Yes;
}

bool DialogPrompts::warning(const QString& text) {
    return ShowBox(parent_, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::No) == QMessageBox::Yes;
}

OverwriteAnswer DialogPrompts::askOverwrite(const QString& text) {
    QMessageBox box(QMessageBox::Question, kApplicationTitle, text, QMessageBox::NoButton, parent_);
    box.setObjectName(QStringLiteral("AskBox"));
    box.setWindowModality(Qt::ApplicationModal);
    SetTextWidth(box, kQuestionTextWidth);
    QPushButton* yes = box.addButton(QString::fromUtf8(app::kYes), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QString::fromUtf8(app::kNo), QMessageBox::NoRole);
    QPushButton* yesToAll = box.addButton(QString::fromUtf8(app::kYesToAll), QMessageBox::YesRole);
    QPushButton* noToAll = box.addButton(QString::fromUtf8(app::kNoToAll), QMessageBox::NoRole);
    QPushButton* stop = box.addButton(QString::fromUtf8(app::kStop), QMessageBox::RejectRole);
    yes->setObjectName(QStringLiteral("Yes"));
    no->setObjectName(QStringLiteral("No"));
    yesToAll->setObjectName(QStringLiteral("YesToAll"));
    noToAll->setObjectName(QStringLiteral("NoToAll"));
    stop->setObjectName(QStringLiteral("Stop"));
    box.setDefaultButton(yes);
    box.setEscapeButton(stop);
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QGuiApplication::restoreOverrideCursor();
    const QAbstractButton* clicked = box.clickedButton();
    if (clicked == yes) return OverwriteAnswer::Yes;
    if (clicked == no) return OverwriteAnswer::No;
    if (clicked == yesToAll) return OverwriteAnswer::YesToAll;
    if (clicked == noToAll) return OverwriteAnswer::NoToAll;
    return OverwriteAnswer::Stop;
}

void DialogPrompts::error(const QString& text) {
    ShowBox(parent_, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void DialogPrompts::report(const QString& text, const QString& details,
                           const std::function<void()>& saveReport) {
    QMessageBox box(QMessageBox::Information, kApplicationTitle, text, QMessageBox::Ok, parent_);
    box.setObjectName(QStringLiteral("ReportBox"));
    box.setWindowModality(Qt::ApplicationModal);
    SetTextWidth(box, kBoxTextMinWidth);
    box.setDetailedText(details);
    if (auto* ok = box.button(QMessageBox::Ok)) ok->setText(QString::fromUtf8(app::kOk));
    QPushButton* save = box.addButton(messages::kSaveReport, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    // A message box closes on every button; the save button shows the same box again, with
    // its details as they were.
    for (;;) {
        box.exec();
        if (box.clickedButton() != save) break;
        saveReport();
    }
    QGuiApplication::restoreOverrideCursor();
}

QStringList DialogPrompts::openFiles(const FileRequest& request) {
    return ChooseExisting(request, QFileDialog::ExistingFiles);
}

QString DialogPrompts::openFile(const FileRequest& request) {
    const QStringList chosen = ChooseExisting(request, QFileDialog::ExistingFile);
    return chosen.isEmpty() ? QString() : chosen.front();
}

QStringList DialogPrompts::ChooseExisting(const FileRequest& request, QFileDialog::FileMode mode) {
    QFileDialog dialog(parent_);
    PrepareFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    if (auto last = lastChosen_.find(request.name); last != lastChosen_.end()) {
        dialog.selectFile(last->second);
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) lastChosen_[request.name] = chosen.front();
    return chosen;
}

QString DialogPrompts::saveFile(const FileRequest& request) {
    QFileDialog dialog(parent_);
    PrepareFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The file is replaced without a question and a name typed without extension is kept.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(QString());
    if (!request.proposedName.isEmpty()) dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

QString DialogPrompts::browseFolder(const QString& prompt) {
    return QFileDialog::getExistingDirectory(parent_, prompt, QString(), QFileDialog::ShowDirsOnly);
}

bool DialogPrompts::executePicker(TForm2& picker) {
    return picker.Execute();
}

}  // namespace ostrivane
