#include "ui/Unit2.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStandardPaths>
#include <QStyle>
#include <QTextStream>
#include <QTreeView>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/texts.h"
#include "core/fsops.h"

namespace ostrivane {

namespace {

// Client area of the dialog and the frame kept free around it.
constexpr int kClientWidth = 409;
constexpr int kClientHeight = 391;
constexpr int kBorder = 4;
// How long a rebuild waits for a folder listing before it gives the cursor back anyway.
constexpr int kLoadTimeoutMs = 5000;
// How long a settings tool may take to answer.
constexpr int kSettingsToolTimeoutMs = 1000;

QString CleanFolderPath(const QString& path) {
    if (path.isEmpty()) return {};
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// True when `path` is `ancestor` or lies below it (both clean and absolute).
bool IsAtOrBelow(const QString& path, const QString& ancestor) {
    if (path == ancestor) return true;
    const QString prefix = ancestor.endsWith('/') ? ancestor : ancestor + '/';
    return path.startsWith(prefix);
}

std::optional<bool> ParseBool(const QString& text) {
    const QString value = text.trimmed().toLower();
    if (value == QLatin1String("true")) return true;
    if (value == QLatin1String("false")) return false;
    return std::nullopt;
}

// Value of `key` in section `[group]` of a KDE-style configuration file, or nullopt.
std::optional<QString> ConfigValue(const QString& file, const QString& group, const QString& key) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
    QTextStream stream(&in);
    const QString wantedGroup = '[' + group + ']';
    bool inGroup = false;
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.startsWith('[')) {
            inGroup = line == wantedGroup;
            continue;
        }
        if (!inGroup) continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) continue;
        // KDE marks keys with flags such as "[$e]"; they do not change the name.
        QString name = line.left(equals).trimmed();
        if (const qsizetype flags = name.indexOf("[$"); flags >= 0) name = name.left(flags);
        if (name == key) return line.mid(equals + 1);
    }
    return std::nullopt;
}

std::optional<bool> ConfigBool(const QString& file, const QString& group, const QString& key) {
    const auto value = ConfigValue(file, group, key);
    return value ? ParseBool(*value) : std::nullopt;
}

// Dolphin's default view properties first, then the file dialogs' setting of kdeglobals.
std::optional<bool> KdeShowsHidden() {
    const QString dolphin = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                            "/dolphin/view_properties/global/.directory";
    if (auto shown = ConfigBool(dolphin, "Settings", "HiddenFilesShown")) return shown;
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        if (auto shown =
                ConfigBool(dir + "/kdeglobals", "KFileDialog Settings", "Show hidden files"))
            return shown;
    }
    return std::nullopt;
}

// The output of a settings tool read as a boolean; nullopt when the tool is missing, fails
// or takes too long.
std::optional<bool> ToolBool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kSettingsToolTimeoutMs)) return std::nullopt;
    if (!process.waitForFinished(kSettingsToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return ParseBool(QString::fromUtf8(process.readAllStandardOutput()));
}

std::optional<bool> GsettingsBool(const QString& schema, const QString& key) {
    return ToolBool("gsettings", {"get", schema, key});
}

// The file managers of the GTK desktops keep the setting in GSettings; GNOME's Files
// follows the file chooser's key (GTK 4, then GTK 3, then its own older key).
std::optional<bool> GtkDesktopShowsHidden(const QStringList& desktops) {
    std::vector<std::pair<QString, QString>> keys;
    if (desktops.contains("X-CINNAMON"))
        keys.emplace_back("org.nemo.preferences", "show-hidden-files");
    if (desktops.contains("MATE"))
        keys.emplace_back("org.mate.caja.preferences", "show-hidden-files");
    keys.emplace_back("org.gtk.gtk4.Settings.FileChooser", "show-hidden");
    keys.emplace_back("org.gtk.Settings.FileChooser", "show-hidden");
    keys.emplace_back("org.gnome.nautilus.preferences", "show-hidden-files");
    for (const auto& [schema, key] : keys) {
        if (auto shown = GsettingsBool(schema, key)) return shown;
    }
    return std::nullopt;
}

}  // namespace

bool FileManagerShowsHiddenFolders() {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper().split(':', Qt::SkipEmptyParts);
    if (desktops.isEmpty()) return false;
    std::optional<bool> shown;
    if (desktops.contains("KDE")) {
        shown = KdeShowsHidden();
    } else if (desktops.contains("XFCE")) {
        shown = ToolBool("xfconf-query", {"-c", "thunar", "-p", "/last-show-hidden"});
    } else {
        shown = GtkDesktopShowsHidden(desktops);
    }
    return shown.value_or(false);
}

// --- The dialog ---------------------------------------------------------------------------

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
    setWindowTitle(QString::fromUtf8(app::kPickerTitle));
    setModal(true);
    setFixedSize(kClientWidth + 2 * kBorder, kClientHeight + 2 * kBorder);
    CreateControls();
    ConnectOptionRules();

    loadTimeout_.setSingleShot(true);
    loadTimeout_.setInterval(kLoadTimeoutMs);
    connect(&loadTimeout_, &QTimer::timeout, this, [this] {
        pendingLoads_.clear();
        FinishRefresh();
    });

    // The first use proposes the desktop folder, selected and opened one level.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    startFolder_ = CleanFolderPath(
        !desktop.isEmpty() && QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
    BuildModel();
    RestoreTreeState(InitialTreeState(), false);
}

TForm2::~TForm2() {
    EndBusyCursor();
}

void TForm2::CreateControls() {
    auto place = [](QWidget* control, int left, int top, int width, int height) {
        control->setGeometry(left + kBorder, top + kBorder, width, height);
    };

    ShellTreeView1 = new QTreeView(this);
    ShellTreeView1->setObjectName("ShellTreeView1");
    place(ShellTreeView1, 0, 0, 409, 305);
    ShellTreeView1->setHeaderHidden(true);
    ShellTreeView1->setRootIsDecorated(false);
    ShellTreeView1->setIndentation(19);
    ShellTreeView1->setUniformRowHeights(true);
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    CheckBox1 = new QCheckBox(QString::fromUtf8(app::kPickAllSubfolders), this);
    CheckBox1->setObjectName("CheckBox1");
    place(CheckBox1, 0, 311, 401, 17);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QString::fromUtf8(app::kOk), this);
    BitBtn1->setObjectName("BitBtn1");
    place(BitBtn1, 128, 362, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    // Esc reaches QDialog::reject as well, which is what this button does.
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QString::fromUtf8(app::kCancel), this);
    BitBtn2->setObjectName("BitBtn2");
    place(BitBtn2, 224, 362, 75, 25);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    CheckBox2 = new QCheckBox(QString::fromUtf8(app::kPickDepthBefore), this);
    CheckBox2->setObjectName("CheckBox2");
    place(CheckBox2, 0, 336, 153, 17);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    place(ComboBox1, 143, 331, 50, 21);
    ComboBox1->setEditable(true);
    // Enter confirms the dialog; it must not add the typed depth to the drop-down.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({"1", "2", "3"});
    ComboBox1->setEditText("1");
    ComboBox1->setEnabled(false);
    ComboBox1->lineEdit()->installEventFilter(this);
    // The key filter sees typed characters only; pasted text and input-method text are held
    // to digits here.
    ComboBox1->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), ComboBox1));

    Label1 = new QLabel(QString::fromUtf8(app::kPickDepthAfter), this);
    Label1->setObjectName("Label1");
    place(Label1, 200, 336, 89, 13);

    setTabOrder(ShellTreeView1, CheckBox1);
    setTabOrder(CheckBox1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, CheckBox2);
    setTabOrder(CheckBox2, ComboBox1);
}

// The two options are coupled through their state changes: a box that a rule sets to the
// state it already has emits nothing, so the rules settle after at most one round.
void TForm2::ConnectOptionRules() {
    connect(CheckBox1, &QCheckBox::toggled, this, &TForm2::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm2::CheckBox2Click);
}

void TForm2::CheckBox1Click(bool checked) {
    CheckBox2->setChecked(!checked);
}

void TForm2::CheckBox2Click(bool checked) {
    CheckBox1->setChecked(!checked);
    ComboBox1->setEnabled(CheckBox2->isChecked());
}

// Typed characters other than the digits are discarded; backspace and the keys that type
// nothing or only a control character (arrows, Delete, Enter, Esc, shortcuts) pass.
bool TForm2::ComboBox1KeyPress(const QKeyEvent& key) const {
    if (key.key() == Qt::Key_Backspace) return true;
    for (const QChar c : key.text()) {
        const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!control && !digit) return false;
    }
    return true;
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (ComboBox1 && watched == ComboBox1->lineEdit() && event->type() == QEvent::KeyPress) {
        if (!ComboBox1KeyPress(*static_cast<QKeyEvent*>(event))) return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TForm2::Execute() {
    return exec() == QDialog::Accepted;
}

app::PickedFolder TForm2::Pick() {
    return CurrentPick(Execute());
}

app::PickedFolder TForm2::CurrentPick(bool accepted) const {
    app::PickedFolder pick;
    pick.accepted = accepted;
    pick.folder = QFile::encodeName(SelectedFolder()).toStdString();
    pick.allSubfolders = AllSubfolders();
    pick.limitedDepth = LimitedDepth();
    pick.depthText = DepthText().toStdString();
    return pick;
}

QString TForm2::SelectedFolder() const {
    const QItemSelectionModel* selection = ShellTreeView1->selectionModel();
    if (!selection) return {};
    const QModelIndexList selected = selection->selectedIndexes();
    if (selected.isEmpty()) return {};
    return model_->filePath(selected.first());
}

bool TForm2::AllSubfolders() const {
    return CheckBox1->isChecked();
}
bool TForm2::LimitedDepth() const {
    return CheckBox2->isChecked();
}
QString TForm2::DepthText() const {
    return ComboBox1->currentText();
}

bool TForm2::SelectFolder(const QString& path) {
    const QString folder = CleanFolderPath(path);
    const QModelIndex index =
        !folder.isEmpty() && IsAtOrBelow(folder, rootFolder_) && QFileInfo(folder).isDir()
            ? model_->index(folder)
            : QModelIndex();
    if (!index.isValid()) {
        ShellTreeView1->selectionModel()->clear();
        return false;
    }
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        ShellTreeView1->expand(parent);
    ShellTreeView1->setCurrentIndex(index);
    ShellTreeView1->scrollTo(index);
    return true;
}

void TForm2::SetRootFolder(const QString& path) {
    rootFolder_ = CleanFolderPath(path);
    if (rootFolder_.isEmpty()) rootFolder_ = QStringLiteral("/");
    RefreshTree();
}

bool TForm2::ShowsHiddenFolders() const {
    return hiddenOverride_ ? *hiddenOverride_ : FileManagerShowsHiddenFolders();
}

// --- Tree rebuilding ----------------------------------------------------------------------

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RefreshTree();
}

void TForm2::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    everShown_ = true;
    if (refreshing_) {
        pendingLoads_.clear();
        FinishRefresh();
    }
}

void TForm2::RefreshTree() {
    const TreeState state = CaptureTreeState();
    BeginBusyCursor();
    BuildModel();
    RestoreTreeState(state, true);
}

TForm2::TreeState TForm2::CaptureTreeState() const {
    TreeState state;
    state.selected = SelectedFolder();
    // Only expanded folders are walked, so this stays as small as what the user opened.
    std::vector<QModelIndex> open{ShellTreeView1->rootIndex()};
    while (!open.empty()) {
        const QModelIndex parent = open.back();
        open.pop_back();
        for (int row = 0; row < model_->rowCount(parent); ++row) {
            const QModelIndex child = model_->index(row, 0, parent);
            if (!ShellTreeView1->isExpanded(child)) continue;
            state.expanded << model_->filePath(child);
            open.push_back(child);
        }
    }
    if (everShown_) {
        const QModelIndex top = ShellTreeView1->indexAt(QPoint(1, 1));
        if (top.isValid()) state.firstVisible = model_->filePath(top);
    }
    return state;
}

// The start folder selected and open, and every folder above it open so that it shows.
TForm2::TreeState TForm2::InitialTreeState() const {
    TreeState state;
    state.selected = startFolder_;
    for (QString folder = startFolder_; IsAtOrBelow(folder, rootFolder_);) {
        state.expanded.prepend(folder);
        if (folder == rootFolder_ || folder == QLatin1String("/")) break;
        folder = QFileInfo(folder).path();
    }
    return state;
}

// A fresh model reads every folder it shows again; the old one and its cache go away.
void TForm2::BuildModel() {
    QFileSystemModel* previousModel = model_;
    QItemSelectionModel* previousSelection = ShellTreeView1->selectionModel();

    model_ = new QFileSystemModel(this);
    // The tree is refreshed on every show instead of watching the folders it has read.
    model_->setOptions(QFileSystemModel::DontWatchForChanges);
    hiddenShown_ = ShowsHiddenFolders();
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (hiddenShown_) filter |= QDir::Hidden;
    model_->setFilter(filter);
    connect(model_, &QFileSystemModel::directoryLoaded, this, &TForm2::OnDirectoryLoaded);
    pendingLoads_.clear();
    pendingLoads_.insert(rootFolder_);
    const QModelIndex root = model_->setRootPath(rootFolder_);

    ShellTreeView1->setModel(model_);
    // "/" is itself the top row; any other root shows its subfolders as the top rows.
    ShellTreeView1->setRootIndex(rootFolder_ == QLatin1String("/") ? QModelIndex() : root);
    for (int column = 1; column < model_->columnCount(); ++column)
        ShellTreeView1->setColumnHidden(column, true);

    delete previousSelection;
    delete previousModel;
}

void TForm2::RestoreTreeState(const TreeState& state, bool showBusy) {
    QStringList expanded = state.expanded;
    std::stable_sort(expanded.begin(), expanded.end(),
                     [](const QString& a, const QString& b) { return a.size() < b.size(); });
    for (const QString& folder : expanded) {
        if (!IsShownFolder(folder)) continue;
        const QModelIndex index = model_->index(folder);
        if (!index.isValid()) continue;
        // Registered before the view asks for the folder's contents on expanding it.
        WaitForLoad(folder);
        ShellTreeView1->expand(index);
    }

    if (!state.selected.isEmpty() && IsShownFolder(state.selected)) {
        ShellTreeView1->setCurrentIndex(model_->index(state.selected));
    } else {
        ShellTreeView1->selectionModel()->clear();
    }

    pendingFirstVisible_ = IsShownFolder(state.firstVisible) ? state.firstVisible : QString();
    refreshing_ = true;
    if (showBusy) {
        loadTimeout_.start();
    } else {
        // Built hidden: nothing to wait for on screen.
        pendingLoads_.clear();
        FinishRefresh();
    }
}

void TForm2::WaitForLoad(const QString& folder) {
    const QModelIndex index = model_->index(folder);
    if (!model_->canFetchMore(index)) return;
    pendingLoads_.insert(folder);
    model_->fetchMore(index);
}

void TForm2::OnDirectoryLoaded(const QString& folder) {
    if (!refreshing_) return;
    pendingLoads_.remove(QDir::cleanPath(folder));
    if (pendingLoads_.isEmpty()) FinishRefresh();
}

void TForm2::FinishRefresh() {
    if (!refreshing_) return;
    refreshing_ = false;
    loadTimeout_.stop();
    // The model sorts newly read rows later on a timer; sorting now puts the rows where the
    // scrolling below expects them.
    model_->sort(0, Qt::AscendingOrder);
    const QModelIndex top =
        pendingFirstVisible_.isEmpty() ? QModelIndex() : model_->index(pendingFirstVisible_);
    if (top.isValid()) {
        ShellTreeView1->scrollTo(top, QAbstractItemView::PositionAtTop);
    } else if (ShellTreeView1->currentIndex().isValid()) {
        // The selected folder heads the view, its subfolders below it.
        ShellTreeView1->scrollTo(ShellTreeView1->currentIndex(), QAbstractItemView::PositionAtTop);
    }
    pendingFirstVisible_.clear();
    EndBusyCursor();
    emit treeRefreshed();
}

void TForm2::BeginBusyCursor() {
    if (busyCursor_) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
}

void TForm2::EndBusyCursor() {
    if (!busyCursor_) return;
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
}

// An existing folder at or below the root that the tree's filter lets through. With hidden
// folders off, a dot-folder counts only when it lies on the start folder's own path.
bool TForm2::IsShownFolder(const QString& path) const {
    if (path.isEmpty() || !IsAtOrBelow(path, rootFolder_) || !QFileInfo(path).isDir()) return false;
    if (hiddenShown_) return true;
    const QString below = path.mid(rootFolder_.size());
    QString prefix = rootFolder_;
    for (const QString& name : below.split('/', Qt::SkipEmptyParts)) {
        prefix = prefix.endsWith('/') ? prefix + name : prefix + '/' + name;
        if (name.startsWith('.') && !IsAtOrBelow(startFolder_, prefix)) return false;
    }
    return true;
}

}  // namespace ostrivane
