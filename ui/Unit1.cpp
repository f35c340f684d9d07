#include "ui/Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>
#include <exception>
#include <optional>
#include <thread>

#include "app/commands.h"
#include "app/picker.h"
#include "app/report.h"
#include "app/summaries.h"
#include "app/texts.h"
#include "core/emptying.h"
#include "core/fsops.h"
#include "core/intake.h"
#include "core/list_files.h"
#include "core/settings.h"
#include "ui/DesktopNotifier.h"
#include "ui/FileDrops.h"
#include "ui/HelpView.h"
#include "ui/Messages.h"
#include "ui/RunFigures.h"
#include "ui/Unit2.h"

namespace ostrivane {
namespace {

// Client size of the window at its design size.
constexpr QSize kDesignClientSize(752, 543);
// Inner border of the working page and of the help page.
constexpr int kSheetBorder = 2;
constexpr int kHelpSheetBorder = 4;

const QString kListFileFilter =
    QString::fromUtf8(app::kListFileDescription) + QStringLiteral("(*.lst)");
const QString kListFileOpenFilter = QStringLiteral("*.lst (*.lst)");
// Description "*.*" with the pattern that matches every file name.
const QString kAnyFileFilter = QStringLiteral("*.* (*)");

// The working page: its groups are laid out by layouts (LayOutWorkingPage), so both lists
// take the room a larger window gives. The device view, shown during a run that writes to
// several devices, stands over the options group wherever the layout puts it.
class WorkingPage : public QWidget {
  public:
    using QWidget::QWidget;
    QWidget* optionsGroup = nullptr;
    QWidget* deviceView = nullptr;

    void placeDeviceView() {
        if (optionsGroup && deviceView) deviceView->setGeometry(optionsGroup->geometry());
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        placeDeviceView();
    }
};

// Keeps the device view over the options group whenever the group moves or resizes.
class FollowGeometry : public QObject {
  public:
    FollowGeometry(WorkingPage* page) : QObject(page), page_(page) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            page_->placeDeviceView();
        return QObject::eventFilter(watched, event);
    }

  private:
    WorkingPage* page_;
};

// A group's place on the working page: the groups' coordinates are those of the page's
// inner area.
QRect OnPage(int left, int top, int width, int height) {
    return QRect(left + kSheetBorder, top + kSheetBorder, width, height);
}

// The group captions of this style sit above the frame and are taller than the design's
// 8-point captions, so the controls inside a group start this much lower.
constexpr int kCaptionAllowance = 6;

// A control's place inside a group.
QRect InGroup(int left, int top, int width, int height) {
    return QRect(left, top + kCaptionAllowance, width, height);
}

// A list's place inside a group: it starts lower and keeps its bottom edge.
QRect ListInGroup(int left, int top, int width, int height) {
    return QRect(left, top + kCaptionAllowance, width, height - kCaptionAllowance);
}

// Keeps a button disabled for its own lifetime and enables it again on every way out.
class DisabledWhileAlive {
  public:
    explicit DisabledWhileAlive(QWidget& widget) : widget_(widget) { widget_.setEnabled(false); }
    ~DisabledWhileAlive() { widget_.setEnabled(true); }
    DisabledWhileAlive(const DisabledWhileAlive&) = delete;
    DisabledWhileAlive& operator=(const DisabledWhileAlive&) = delete;

  private:
    QWidget& widget_;
};

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

// The repaint a folder walk asks for after each folder, throttled: at once for the first
// folder, then at most once per interval, the list's views learn of the folders added since
// and the window paints. The interval counts from the end of the last repaint, so the walk
// always gets the time between. The walk's busy scope swallows the user's input meanwhile,
// so nothing typed or clicked during the walk runs, now or afterwards.
class WalkRepaint {
  public:
    WalkRepaint(PathListModel& model, int intervalMs) : model_(model), intervalMs_(intervalMs) {}

    void operator()() {
        if (sinceLast_.isValid() && sinceLast_.elapsed() < intervalMs_) return;
        model_.PublishGrowth();
        QCoreApplication::processEvents();
        sinceLast_.start();
    }

  private:
    PathListModel& model_;
    const qint64 intervalMs_;
    QElapsedTimer sinceLast_;
};

// The bytes of every listed source when each is a file (one look at each, no walk); none
// when a source is a folder, whose size only its copy learns. A source that cannot be
// read counts nothing (its copy fails).
std::optional<std::uint64_t> ListedFilesTotal(const PathList& sources) {
    std::uint64_t total = 0;
    for (const std::string& source : sources.entries()) {
        const QFileInfo info(FromPath(source));
        if (info.isDir() || source.ends_with('/')) return std::nullopt;
        if (info.isFile()) total += static_cast<std::uint64_t>(info.size());
    }
    return total;
}

}  // namespace

// Swallows the user's mouse, keyboard and drop input to every widget of one window, so no
// command can start while a long one runs. Other windows (the question box of a run) keep
// their input. While the operation can be stopped, the mouse still reaches BtnStop and Esc
// asks for the stop.
class TForm1::InputBlocker : public QObject {
  public:
    explicit InputBlocker(TForm1* form) : form_(form) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsUserInput(event->type()) || !watched->isWidgetType()) return false;
        if (static_cast<QWidget*>(watched)->window() != form_) return false;
        if (!form_->stoppable_) return true;
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return watched != form_->BtnStop;
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) form_->BtnStopClick();
                return true;
            default:
                return true;
        }
    }

  private:
    TForm1* form_;
};

// The window's busy state for the lifetime of the scope: input blocked and the busy cursor,
// both undone on every way out.
class TForm1::BusyScope {
  public:
    explicit BusyScope(TForm1& form) : form_(form), blocker_(&form) {
        form_.busy_ = true;
        qApp->installEventFilter(&blocker_);
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyScope() {
        QGuiApplication::restoreOverrideCursor();
        qApp->removeEventFilter(&blocker_);
        form_.busy_ = false;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    TForm1& form_;
    InputBlocker blocker_;
};

TForm1::TForm1(QWidget* parent) : TForm1(nullptr, WindowOptions(), parent) {}

TForm1::TForm1(Prompts& prompts, QWidget* parent) : TForm1(&prompts, WindowOptions(), parent) {}

TForm1::TForm1(Prompts* prompts, const WindowOptions& options, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts) {
    if (!prompts_) {
        ownPrompts_ = std::make_unique<DialogPrompts>(this);
        prompts_ = ownPrompts_.get();
    }
    BuildWindow();
    BuildHelpPage(options.webHelp);
    FormCreate();
    // The picker follows the window and stays hidden until Button3Click shows it.
    Form2 = new TForm2(this);
}

TForm1::~TForm1() {
    // The views go before the models and lists they show.
    delete PageControl1;
}

// BtnStop shown and the stop request cleared for the lifetime of the scope: the operation
// run inside can be stopped.
class TForm1::StopScope {
  public:
    explicit StopScope(TForm1& form) : form_(form) {
        form_.stopRequest_ = false;
        form_.stoppable_ = true;
        form_.BtnStop->setEnabled(true);
        form_.BtnStop->setVisible(true);
    }
    ~StopScope() {
        form_.stoppable_ = false;
        form_.BtnStop->setVisible(false);
    }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

  private:
    TForm1& form_;
};

// --- Building the window ------------------------------------------------------------------

void TForm1::BuildWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    sourceModel_ = std::make_unique<PathListModel>(sources_);
    destinationModel_ = std::make_unique<PathListModel>(destinations_);
    scratchModel_ = std::make_unique<PathListModel>(scratch_);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setDocumentMode(true);
    setCentralWidget(PageControl1);

    auto* workingPage = new WorkingPage;
    TabSheet1 = workingPage;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QString::fromUtf8(app::kWorkingTab));
    BuildSourceGroup();
    BuildDestinationGroup();
    BuildOptionsGroup();
    BuildProgressGroup();
    BuildStartPanel();
    BuildRunFigures();
    LayOutWorkingPage();
    workingPage->optionsGroup = GroupBox3;
    workingPage->deviceView = DeviceView;
    GroupBox3->installEventFilter(new FollowGeometry(workingPage));
    SetTabOrder();
    ConnectCommands();

    // Nothing is clipped down to the size every control needs, never below the design size.
    setMinimumSize(minimumSizeHint().expandedTo(kDesignClientSize));
    resize(kDesignClientSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QListView* TForm1::MakeListView(const char* name, PathListModel& model, QWidget* parent) {
    auto* view = new QListView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(&model);
    view->setUniformItemSizes(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->installEventFilter(this);
    return view;
}

QPushButton* TForm1::MakeButton(const char* name, const QString& caption, const QRect& geometry,
                                QWidget* parent, void (TForm1::*handler)()) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void TForm1::BuildSourceGroup() {
    GroupBox1 = new QGroupBox(QString::fromUtf8(app::kSourceGroup), TabSheet1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    ListBox1 = MakeListView("ListBox1", *sourceModel_, GroupBox1);
    ListBox1->setGeometry(ListInGroup(10, 16, 631, 169));
    Button1 = MakeButton("Button1", QString::fromUtf8(app::kAddFiles), InGroup(645, 14, 90, 25),
                         GroupBox1, &TForm1::Button1Click);
    Button5 = MakeButton("Button5", QString::fromUtf8(app::kAddSourceFolder),
                         InGroup(645, 44, 90, 25), GroupBox1, &TForm1::Button5Click);
    Button2 = MakeButton("Button2", QString::fromUtf8(app::kRemoveSources),
                         InGroup(645, 74, 90, 25), GroupBox1, &TForm1::Button2Click);
    Button6 = MakeButton("Button6", QString::fromUtf8(app::kClearList), InGroup(645, 103, 90, 25),
                         GroupBox1, &TForm1::Button6Click);
    BtnSaveFileList =
        MakeButton("BtnSaveFileList", QString::fromUtf8(app::kExportList),
                   InGroup(645, 132, 90, 25), GroupBox1, &TForm1::BtnSaveFileListClick);
    BtnImpFileList = MakeButton("BtnImpFileList", QString::fromUtf8(app::kImportList),
                                InGroup(645, 161, 90, 25), GroupBox1, &TForm1::BtnImpFileListClick);
}

void TForm1::BuildDestinationGroup() {
    GroupBox2 = new QGroupBox(QString::fromUtf8(app::kDestinationGroup), TabSheet1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(OnPage(0, 202, 740, 162));
    ListBox2 = MakeListView("ListBox2", *destinationModel_, GroupBox2);
    ListBox2->setGeometry(ListInGroup(8, 15, 633, 139));
    Button3 = MakeButton("Button3", QString::fromUtf8(app::kAddDestinationFolder),
                         InGroup(645, 10, 90, 25), GroupBox2, &TForm1::Button3Click);
    Button4 = MakeButton("Button4", QString::fromUtf8(app::kRemoveDestinations),
                         InGroup(645, 40, 90, 25), GroupBox2, &TForm1::Button4Click);
    Button7 = MakeButton("Button7", QString::fromUtf8(app::kClearList), InGroup(645, 69, 90, 25),
                         GroupBox2, &TForm1::Button7Click);
    BtnSaveDirLst = MakeButton("BtnSaveDirLst", QString::fromUtf8(app::kExportList),
                               InGroup(645, 98, 90, 25), GroupBox2, &TForm1::BtnSaveDirLstClick);
    BtnImpDirLst = MakeButton("BtnImpDirLst", QString::fromUtf8(app::kImportList),
                              InGroup(645, 127, 90, 25), GroupBox2, &TForm1::BtnImpDirLstClick);
    ListBox3 = MakeListView("ListBox3", *scratchModel_, GroupBox2);
    ListBox3->setVisible(false);
}

void TForm1::BuildOptionsGroup() {
    GroupBox3 = new QGroupBox(QString::fromUtf8(app::kOptionsGroup), TabSheet1);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(OnPage(0, 366, 362, 95));
    Label1 = new QLabel(QString::fromUtf8(app::kSameNameLabel), GroupBox3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(InGroup(5, 14, 218, 13));

    const auto makeRadio = [this](const char* name, const QString& caption, const QRect& place) {
        auto* radio = new QRadioButton(caption, GroupBox3);
        radio->setObjectName(QString::fromLatin1(name));
        radio->setGeometry(place);
        return radio;
    };
    Rb1 = makeRadio("Rb1", QString::fromUtf8(app::kPolicyOverwrite), InGroup(36, 31, 46, 17));
    Rb2 = makeRadio("Rb2", QString::fromUtf8(app::kPolicySkip), InGroup(85, 31, 50, 17));
    Rb3 = makeRadio("Rb3", QString::fromUtf8(app::kPolicyAsk), InGroup(133, 31, 49, 17));
    RbRename =
        makeRadio("RbRename", QString::fromUtf8(app::kPolicyNumber), InGroup(185, 31, 147, 17));
    KeepCheckedPolicyAsTabStop();
    Rb1->setChecked(true);

    CheckBox1 = new QCheckBox(QString::fromUtf8(app::kEmptyFirst), GroupBox3);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(InGroup(9, 50, 320, 17));

    CheckVerify = new QCheckBox(QString::fromUtf8(app::kVerifyAfterCopy), GroupBox3);
    CheckVerify->setObjectName(QStringLiteral("CheckVerify"));
    CheckVerify->setGeometry(InGroup(9, 69, 320, 17));
    CheckVerify->setToolTip(QString::fromUtf8(app::kVerifyAfterCopyTip));

    BtnEmptyDestFolder = new QToolButton(GroupBox3);
    BtnEmptyDestFolder->setObjectName(QStringLiteral("BtnEmptyDestFolder"));
    BtnEmptyDestFolder->setText(QStringLiteral("..."));
    BtnEmptyDestFolder->setToolTip(QString::fromUtf8(app::kEmptyNow));
    BtnEmptyDestFolder->setAccessibleName(QString::fromUtf8(app::kEmptyNow));
    // Reachable with Tab; Space or Enter opens its menu as a press of the mouse does.
    BtnEmptyDestFolder->setFocusPolicy(Qt::TabFocus);
    BtnEmptyDestFolder->setGeometry(InGroup(326, 47, 23, 22));
    BtnEmptyDestFolder->setVisible(false);
    BtnEmptyDestFolder->installEventFilter(this);

    EmptyingNote = new QLabel(GroupBox3);
    EmptyingNote->setObjectName(QStringLiteral("EmptyingNote"));
    EmptyingNote->setWordWrap(true);
    EmptyingNote->setStyleSheet(QStringLiteral("color: #b00000;"));
    EmptyingNote->setVisible(false);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(QString::fromUtf8(app::kEmptyNow));
    N1->setObjectName(QStringLiteral("N1"));
}

// The policy buttons are one tab stop, the checked one, as a group of option buttons is on
// the desktop: Tab reaches the policy in force, whichever button holds it. Qt itself only
// moves the stop to a button that receives the focus, so at start Tab would land on Rb1
// and never on a checked RbRename.
void TForm1::KeepCheckedPolicyAsTabStop() {
    const std::array<QRadioButton*, 4> policyButtons{Rb1, Rb2, Rb3, RbRename};
    for (QRadioButton* button : policyButtons) {
        connect(button, &QRadioButton::toggled, this, [policyButtons, button](bool checked) {
            if (!checked) return;
            for (QRadioButton* other : policyButtons) {
                other->setFocusPolicy(other == button ? Qt::StrongFocus : Qt::ClickFocus);
            }
        });
    }
}

void TForm1::BuildProgressGroup() {
    GroupBox4 = new QGroupBox(QString::fromUtf8(app::kProgressGroup), TabSheet1);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setGeometry(OnPage(378, 367, 362, 93));
    ProgressBar1 = new QProgressBar(GroupBox4);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(InGroup(45, 40, 297, 22));
}

void TForm1::BuildStartPanel() {
    Panel1 = new QFrame(TabSheet1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    BtnCopy = MakeButton("BtnCopy", QString::fromUtf8(app::kStartCopy), QRect(320, 5, 100, 25),
                         Panel1, &TForm1::BtnCopyClick);
    BtnStop = MakeButton("BtnStop", QString::fromUtf8(app::kStop), QRect(426, 5, 100, 25), Panel1,
                         &TForm1::BtnStopClick);
    BtnStop->setToolTip(QString::fromUtf8(app::kStopTip));
    BtnStop->setVisible(false);
}

void TForm1::BuildRunFigures() {
    StatusLabel = new QLabel(GroupBox4);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setGeometry(InGroup(8, 64, 346, 18));
    // A long line wraps onto a second line instead of widening the window; the tool tip
    // holds all of it too.
    StatusLabel->setTextFormat(Qt::PlainText);
    StatusLabel->setWordWrap(true);
    StatusLabel->setMinimumHeight(2 * StatusLabel->fontMetrics().lineSpacing());
    StatusLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    DeviceView = new QTreeWidget(TabSheet1);
    DeviceView->setObjectName(QStringLiteral("DeviceView"));
    DeviceView->setGeometry(OnPage(0, 366, 362, 95));
    DeviceView->setHeaderLabels(
        {QString::fromUtf8(app::kDeviceColumn), QString::fromUtf8(app::kWrittenColumn),
         QString::fromUtf8(app::kSpeedColumn), QString::fromUtf8(app::kStateColumn)});
    DeviceView->setRootIsDecorated(false);
    // The end of a folder names the device best.
    DeviceView->setTextElideMode(Qt::ElideMiddle);
    DeviceView->setUniformRowHeights(true);
    DeviceView->setFocusPolicy(Qt::NoFocus);
    DeviceView->setSelectionMode(QAbstractItemView::NoSelection);
    DeviceView->header()->setStretchLastSection(false);
    DeviceView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column)
        DeviceView->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    DeviceView->setVisible(false);
    figuresView_ = std::make_unique<RunFiguresView>(StatusLabel, DeviceView);
}

// Layouts for the working page in the arrangement of the design: the source group, the
// destination group, the options and progress groups side by side, the Start panel. The
// lists take the room a larger window gives, the button columns keep their width, and the
// window cannot be made smaller than what keeps every caption whole.
void TForm1::LayOutWorkingPage() {
    const auto listWithButtons = [](QGroupBox* group, QListView* list,
                                    std::initializer_list<QPushButton*> buttons) {
        auto* row = new QHBoxLayout(group);
        row->setContentsMargins(8, 4, 6, 8);
        row->setSpacing(4);
        row->addWidget(list, 1);
        auto* column = new QVBoxLayout;
        column->setSpacing(4);
        for (QPushButton* button : buttons) {
            button->setMinimumWidth(std::max(90, button->sizeHint().width()));
            column->addWidget(button);
        }
        column->addStretch(1);
        row->addLayout(column);
        // Room for the whole button column in the list's height.
        list->setMinimumHeight(column->minimumSize().height() / 2);
    };
    listWithButtons(GroupBox1, ListBox1,
                    {Button1, Button5, Button2, Button6, BtnSaveFileList, BtnImpFileList});
    listWithButtons(GroupBox2, ListBox2, {Button3, Button4, Button7, BtnSaveDirLst, BtnImpDirLst});

    auto* options = new QVBoxLayout(GroupBox3);
    options->setContentsMargins(6, 4, 6, 6);
    options->setSpacing(4);
    options->addWidget(Label1);
    auto* policies = new QHBoxLayout;
    policies->setContentsMargins(30, 0, 0, 0);
    for (QRadioButton* radio : {Rb1, Rb2, Rb3, RbRename}) policies->addWidget(radio);
    policies->addStretch(1);
    options->addLayout(policies);
    auto* emptying = new QHBoxLayout;
    emptying->setContentsMargins(3, 0, 0, 0);
    emptying->setSpacing(2);
    emptying->addWidget(CheckBox1);
    emptying->addWidget(BtnEmptyDestFolder);
    emptying->addStretch(1);
    options->addLayout(emptying);
    options->addWidget(EmptyingNote);
    auto* verify = new QHBoxLayout;
    verify->setContentsMargins(3, 0, 0, 0);
    verify->addWidget(CheckVerify);
    options->addLayout(verify);
    options->addStretch(1);

    auto* progress = new QVBoxLayout(GroupBox4);
    progress->setContentsMargins(8, 4, 8, 6);
    progress->addStretch(1);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(37, 0, 12, 0);
    bar->addWidget(ProgressBar1);
    progress->addLayout(bar);
    progress->addWidget(StatusLabel);
    progress->addStretch(1);

    auto* start = new QHBoxLayout(Panel1);
    start->setContentsMargins(4, 5, 4, 5);
    start->addStretch(1);
    BtnCopy->setMinimumWidth(100);
    BtnStop->setMinimumWidth(100);
    start->addWidget(BtnCopy);
    start->addWidget(BtnStop);
    start->addStretch(1);

    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(kSheetBorder, kSheetBorder, kSheetBorder, kSheetBorder);
    page->setSpacing(4);
    // The design's heights: 196 for the sources, 162 for the destinations.
    page->addWidget(GroupBox1, 196);
    page->addWidget(GroupBox2, 162);
    auto* lower = new QHBoxLayout;
    lower->setSpacing(16);
    lower->addWidget(GroupBox3, 1);
    lower->addWidget(GroupBox4, 1);
    page->addLayout(lower);
    page->addWidget(Panel1);
}

void TForm1::BuildHelpPage(bool webHelp) {
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* layout = new QVBoxLayout(TabSheet2);
    layout->setContentsMargins(kHelpSheetBorder, kHelpSheetBorder, kHelpSheetBorder,
                               kHelpSheetBorder);
    WebBrowser1 = CreateHelpView(TabSheet2, webHelp);
    layout->addWidget(WebBrowser1);
    PageControl1->addTab(TabSheet2, QString::fromUtf8(app::kHelpTab));
}

// Top to bottom and left to right, as the window reads: the source list and its buttons,
// the destination list and its buttons, the options, then Start.
void TForm1::SetTabOrder() {
    QWidget* const order[] = {
        ListBox1,           Button1,  Button5, Button2, Button6,  BtnSaveFileList,
        BtnImpFileList,     ListBox2, Button3, Button4, Button7,  BtnSaveDirLst,
        BtnImpDirLst,       Rb1,      Rb2,     Rb3,     RbRename, CheckBox1,
        BtnEmptyDestFolder, CheckVerify, BtnCopy, BtnStop};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

void TForm1::ConnectCommands() {
    // Every change of the option runs its handler, the program's own changes included.
    connect(CheckBox1, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    // The keyboard's press (Space) of BtnEmptyDestFolder opens the menu below it; the mouse's
    // presses reach BtnEmptyDestFolderMouseDown through the event filter.
    connect(BtnEmptyDestFolder, &QToolButton::clicked, this, [this] {
        BtnEmptyDestFolderMouseDown(Qt::LeftButton, Qt::NoModifier, 0,
                                    BtnEmptyDestFolder->height());
    });
    connect(CheckBox1, &QCheckBox::toggled, this, &TForm1::UpdateEmptyingNote);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(destinationModel_.get(), signal, this, &TForm1::UpdateEmptyingNote);
    connect(destinationModel_.get(), &QAbstractItemModel::modelReset, this,
            &TForm1::UpdateEmptyingNote);
}

// --- Handlers -----------------------------------------------------------------------------

template <typename Body>
void TForm1::Guarded(Body&& body) {
    if (busy_) return;
    try {
        body();
    } catch (const std::exception& error) {
        ShowUnexpectedError(error.what());
    }
}

void TForm1::Button1Click() {
    Guarded([this] { AddFiles(); });
}

void TForm1::Button2Click() {
    Guarded([this] { RemoveSelectedSource(); });
}

void TForm1::Button3Click() {
    Guarded([this] { AddPickedDestination(); });
}

void TForm1::Button4Click() {
    Guarded([this] { RemoveSelectedDestination(); });
}

void TForm1::Button5Click() {
    Guarded([this] { AddSourceFolder(); });
}

void TForm1::Button6Click() {
    Guarded([this] { sourceModel_->clear(); });
}

void TForm1::Button7Click() {
    Guarded([this] { ClearDestinations(); });
}

void TForm1::BtnSaveFileListClick() {
    Guarded([this] { ExportList(sources_, ListRole::Sources); });
}

void TForm1::BtnImpFileListClick() {
    Guarded([this] { ImportSources(); });
}

void TForm1::BtnSaveDirLstClick() {
    Guarded([this] { ExportList(destinations_, ListRole::Destinations); });
}

void TForm1::BtnImpDirLstClick() {
    Guarded([this] { ImportDestinations(); });
}

void TForm1::ListBox1KeyDown(int& key, Qt::KeyboardModifiers /*shift*/) {
    if (key != Qt::Key_Delete) return;
    Button2Click();
    key = 0;
}

void TForm1::ListBox2KeyDown(int& key, Qt::KeyboardModifiers /*shift*/) {
    if (key != Qt::Key_Delete) return;
    Button4Click();
    key = 0;
}

void TForm1::AddDroppedSources(const QStringList& paths) {
    Guarded([&] { AddSourcesOfDrop(paths); });
}

void TForm1::AddDroppedDestinations(const QStringList& paths) {
    Guarded([&] { AddDestinationsOfDrop(paths); });
}

void TForm1::CheckBox1Click() {
    Guarded([this] { AskBeforeEmptyingOption(); });
}

void TForm1::BtnEmptyDestFolderMouseDown(Qt::MouseButton /*button*/,
                                         Qt::KeyboardModifiers /*shift*/, int x, int y) {
    Guarded([&] { PopupMenu1->popup(BtnEmptyDestFolder->mapToGlobal(QPoint(x, y))); });
}

void TForm1::N1Click() {
    Guarded([this] { EmptyDestinationsNow(); });
}

void TForm1::BtnCopyClick() {
    Guarded([this] { CopyRun(); });
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TForm1::BtnStopClick() {
    if (!stoppable_) return;
    stopRequest_ = true;
    BtnStop->setEnabled(false);
}

void TForm1::FormCreate() {
    Guarded([this] {
        setWindowTitle(kApplicationTitle);
        ReadStoredPolicy();
        InstallDropIntake();
        PageControl1->setCurrentIndex(0);
        RequestHelpPage();
    });
}

bool TForm1::FormClose() {
    if (busy_) return false;
    bool stored = false;
    Guarded([&] {
        StorePolicy();
        stored = true;
    });
    return stored;
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closed while a copy run goes on: asked whether to stop it and quit; the window closes
    // once the run has ended (a copy cut short leaves nothing under its final name). During
    // the other long operations the window stays, as before.
    if (busy_ && stoppable_ && runClock_.isValid()) {
        event->ignore();
        if (closeAfterRun_) return;
        if (!prompts().question(QString::fromUtf8(app::kCloseDuringRun))) return;
        if (!busy_) {  // the run ended while the question was open
            close();
            return;
        }
        closeAfterRun_ = true;
        BtnStopClick();
        return;
    }
    if (FormClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == ListBox1 || watched == ListBox2)) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        if (watched == ListBox1) {
            ListBox1KeyDown(key, keyEvent->modifiers());
        } else {
            ListBox2KeyDown(key, keyEvent->modifiers());
        }
        return key == 0;
    }
    if (watched == BtnEmptyDestFolder && (event->type() == QEvent::MouseButtonPress ||
                                          event->type() == QEvent::MouseButtonDblClick)) {
        // A hidden or disabled button takes no mouse input.
        if (BtnEmptyDestFolder->isEnabled() && BtnEmptyDestFolder->isVisible()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            BtnEmptyDestFolderMouseDown(mouse->button(), mouse->modifiers(), at.x(), at.y());
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (!helpPending_) return;
    helpPending_ = false;
    // After this paint has reached the screen.
    QTimer::singleShot(0, this, &TForm1::NavigateHelpPage);
}

// --- Commands -----------------------------------------------------------------------------

void TForm1::AddPickedDestination() {
    if (!prompts().executePicker(*Form2)) return;
    const app::PickedFolder pick = Form2->CurrentPick(true);
    if (const char* refusal = app::PickRefusalText(pick)) {
        prompts().information(QString::fromUtf8(refusal));
        return;
    }
    if (!app::IsAddablePick(pick)) return;
    scratchModel_->change([&](PathList& scratch) {
        WalkIntoDestinations([&](PathList& destinations, const std::function<void()>& repaint,
                                 const std::atomic<bool>* stop) {
            app::AddPickedFolder(pick, destinations, scratch, repaint, stop);
        });
    });
    BtnEmptyDestFolder->setVisible(true);
}

void TForm1::AddSourcesOfDrop(const QStringList& paths) {
    for (const QString& name : paths) {
        const std::string path = ToPath(name);
        const IntakeOutcome outcome = sourceModel_->change(
            [&](PathList& sources) { return AppendDroppedSource(path, sources); });
        if (const char* refusal = app::IntakeRefusalText(outcome))
            prompts().information(QString::fromUtf8(refusal));
    }
}

void TForm1::AddDestinationsOfDrop(const QStringList& paths) {
    if (paths.isEmpty()) return;
    // One answer for the whole drop, asked before any name is looked at.
    const bool withSubfolders = prompts().question(messages::kAddSubfoldersQuestion);
    // The list changes only through `listed` (inside the walks) until the drop is done.
    ListedEntries listed(destinations_, ListRole::Destinations);
    for (const QString& name : paths) {
        const std::string path = ToPath(name);
        // A dropped link to "/" names the root as well as "/" itself; files and vanished
        // names are left out silently.
        const std::optional<IntakeOutcome> refusal = DestinationRefusal(path);
        if (const char* text = app::IntakeRefusalText(refusal)) {
            prompts().information(QString::fromUtf8(text));
            continue;
        }
        if (refusal) continue;
        WalkIntoDestinations([&](PathList&, const std::function<void()>& repaint,
                                 const std::atomic<bool>* stop) {
            AddNamedDestination(path, DestinationReach{withSubfolders, 0}, listed, repaint, stop);
        });
        // A stopped walk ends the whole drop.
        if (withSubfolders && StopRequested()) break;
    }
    BtnEmptyDestFolder->setVisible(true);
}

template <typename Walk>
void TForm1::WalkIntoDestinations(Walk&& walk) {
    // Declared first so the cursor is back before an error that ends the walk is shown.
    const BusyScope busy(*this);
    const StopScope stoppable(*this);
    WalkRepaint repaint(*destinationModel_, walkRepaintIntervalMs);
    const std::function<void()> repaintHook = std::ref(repaint);
    destinationModel_->grow(
        [&](PathList& destinations) { walk(destinations, repaintHook, &stopRequest_); });
}

void TForm1::InstallDropIntake() {
    if (!sourceDrops_) {
        sourceDrops_ = new FileDropIntake(
            ListBox1->viewport(), [this](const QStringList& paths) { AddDroppedSources(paths); });
    }
    if (!destinationDrops_) {
        destinationDrops_ =
            new FileDropIntake(ListBox2->viewport(),
                               [this](const QStringList& paths) { AddDroppedDestinations(paths); });
    }
}

// The page is loaded once the window has been painted (see paintEvent), so starting the web
// engine never delays the window.
void TForm1::RequestHelpPage() {
    helpPending_ = true;
}

void TForm1::NavigateHelpPage() {
    try {
        NavigateHelpView(WebBrowser1, HelpAddress());
        helpRequested_ = true;
    } catch (const std::exception& error) {
        ShowUnexpectedError(error.what());
    }
}

void TForm1::AddFiles() {
    const QStringList chosen =
        prompts().openFiles({QStringLiteral("OpenDialog1"), kAnyFileFilter, QString()});
    if (chosen.isEmpty()) return;
    scratchModel_->change([&](PathList& scratch) {
        scratch.clear();
        for (const QString& file : chosen) scratch.append(ToPath(file));
    });
    sourceModel_->change([&](PathList& sources) {
        ListedEntries listed(sources, ListRole::Sources);
        for (const std::string& file : scratch_.entries()) AddChosenSource(file, false, listed);
    });
}

void TForm1::AddSourceFolder() {
    const QString folder = prompts().browseFolder(messages::kChooseFolderPrompt);
    if (folder.isEmpty()) return;
    // Kept with the trailing separator, unless the list names it already.
    const IntakeOutcome outcome = sourceModel_->change([&](PathList& sources) {
        ListedEntries listed(sources, ListRole::Sources);
        return AddChosenSource(ToPath(folder), true, listed);
    });
    if (const char* refusal = app::IntakeRefusalText(outcome))
        prompts().information(QString::fromUtf8(refusal));
}

void TForm1::RemoveSelectedSource() {
    sourceModel_->removeAt(SelectedRow(ListBox1));
}

void TForm1::RemoveSelectedDestination() {
    destinationModel_->removeAt(SelectedRow(ListBox2));
    if (destinations_.count() == 0) BtnEmptyDestFolder->setVisible(false);
}

void TForm1::ClearDestinations() {
    destinationModel_->clear();
    BtnEmptyDestFolder->setVisible(false);
}

void TForm1::ExportList(const PathList& list, ListRole role) {
    if (const char* refusal = app::ExportRefusal(list, role)) {
        prompts().information(QString::fromUtf8(refusal));
        return;
    }
    const QString fileName = prompts().saveFile({QStringLiteral("SaveDialog1"), kListFileFilter,
                                                 QString::fromUtf8(app::ExportFileName(role))});
    if (fileName.isEmpty()) return;
    SaveListFile(list, ToPath(fileName));
}

void TForm1::ImportSources() {
    const QString fileName =
        prompts().openFile({QStringLiteral("OpenDialog2"), kListFileOpenFilter, QString()});
    if (fileName.isEmpty()) return;
    scratchModel_->change([&](PathList& scratch) {
        sourceModel_->change(
            [&](PathList& sources) { ImportSourceList(ToPath(fileName), scratch, sources); });
    });
}

void TForm1::ImportDestinations() {
    const QString fileName =
        prompts().openFile({QStringLiteral("OpenDialog2"), kListFileOpenFilter, QString()});
    if (fileName.isEmpty()) return;
    const DestinationImport result = scratchModel_->change([&](PathList& scratch) {
        return destinationModel_->change([&](PathList& destinations) {
            return ImportDestinationList(ToPath(fileName), scratch, destinations,
                                         [this] { BtnEmptyDestFolder->setVisible(true); });
        });
    });
    for (const char* note : app::DestinationImportNotes(result))
        prompts().information(QString::fromUtf8(note));
}

void TForm1::UpdateEmptyingNote() {
    EmptyingNote->setText(QString::fromStdString(app::EmptyingNoteText(destinations_.count())));
    EmptyingNote->setVisible(CheckBox1->isChecked());
}

void TForm1::AskBeforeEmptyingOption() {
    if (!CheckBox1->isChecked()) return;
    if (!prompts().warning(messages::kEmptyingWarning)) CheckBox1->setChecked(false);
}

void TForm1::EmptyDestinationsNow() {
    if (!prompts().warning(messages::kEmptyingWarning)) return;
    CheckBox1->setChecked(false);
    std::vector<Failure> leftOver;
    bool stopped = false;
    // Every destination in list order; the listed sources are kept.
    RunStoppable(
        [&] { stopped = EmptyDestinations(destinations_, sources_, &leftOver, &stopRequest_); });
    prompts().information(QString::fromStdString(stopped ? app::EmptyingStoppedText(leftOver)
                                                         : app::EmptyingCompletionText(leftOver)));
    // The immediate emptying can be used once per run of the program.
    BtnEmptyDestFolder->setEnabled(false);
}

void TForm1::CopyRun() {
    if (const char* refusal = app::CopyRunRefusal(sources_, destinations_)) {
        prompts().information(QString::fromUtf8(refusal));
        return;
    }
    const SameFilePolicy policy = CheckedPolicy();
    const bool emptyFirst = CheckBox1->isChecked();
    // What was added to the destinations since the option was checked would go without a
    // word: every run that empties asks again. No cancels the run, the option stays.
    if (emptyFirst && !prompts().warning(QString::fromUtf8(app::kEmptyingWarning))) return;
    runAnswers_.begin();
    RunRequest request;
    request.sources = sources_;
    request.destinations = destinations_;
    request.policy = policy;
    request.emptyFirst = emptyFirst;
    request.ask = [this](const std::string& question) { return AskOnGuiThread(question); };
    request.progress = ProgressOnGuiThread();
    request.options.maxWriters = runWriters;
    request.options.stop = &stopRequest_;
    request.options.showTransfer = FiguresOnGuiThread();
    request.options.verify = CheckVerify->isChecked();
    RunResult result;
    bool longRun = false;
    {
        // The figures and the launcher are cleared on every way out, an error included.
        struct RunEnd {
            TForm1& form;
            bool& longRun;
            ~RunEnd() {
                longRun = form.runClock_.elapsed() > form.longRunMs;
                form.runClock_.invalidate();
                form.Notifier().hideProgress();
            }
        } runEnd{*this, longRun};
        const DisabledWhileAlive startLocked(*BtnCopy);
        launcherPercent_ = -1;
        runClock_.start();
        figuresView_->begin();
        lastFigures_ = TransferFigures();
        runBar_.begin();
        try {
            RunStoppable([&] {
                if (const auto total = ListedFilesTotal(request.sources)) {
                    const std::uint64_t bytes = *total * request.destinations.count();
                    QMetaObject::invokeMethod(
                        this, [this, bytes] { figuresView_->setTotal(bytes); },
                        Qt::QueuedConnection);
                }
                result = CopyAll(request);
            });
        } catch (...) {
            figuresView_->end();
            throw;
        }
        if (result.ended()) figuresView_->end();
    }
    if (longRun && !isActiveWindow())
        Notifier().notify(
            QString::fromStdString(app::RunEndNotice(result.end, result.failures.size())));
    if (result.ended()) {
        // The folder that could not be entered ends the run with its error box, as any
        // error does, the folder named on a second line; what failed before it is then
        // reported like the failures of a complete run.
        QString text = QString::fromStdString(app::ErrorBoxText(result.endedBy.text));
        if (!result.endedBy.path.empty()) text += QLatin1Char('\n') + FromPath(result.endedBy.path);
        prompts().error(text);
        if (!result.failures.empty())
            ShowRunEnd(QString::fromStdString(app::CopyEndedText(result.failures)),
                       result.failures);
        return;
    }
    // The window closes now (asked for during the run): no box holds it open.
    if (!closeAfterRun_) {
        ShowRunEnd(QString::fromStdString(
                       app::CopyRunEndText(result, request.options.verify, lastFigures_)),
                   result.failures);
    }
    figuresView_->end();
    ProgressBar1->setValue(0);
}

void TForm1::RunStoppable(const std::function<void()>& work) {
    const StopScope stoppable(*this);
    RunLongOperation(work);
}

void TForm1::ShowRunEnd(const QString& text, const std::vector<Failure>& failures) {
    if (failures.empty()) {
        prompts().information(text);
        return;
    }
    prompts().report(text, QString::fromStdString(app::FailureDetails(failures)),
                     [&] { SaveFailureReport(failures); });
}

void TForm1::SaveFailureReport(const std::vector<Failure>& failures) {
    const QString fileName = prompts().saveFile(
        {QStringLiteral("SaveDialog2"),
         QString::fromUtf8(app::kReportFileDescription) + QStringLiteral(" (*.csv)"),
         QString::fromUtf8(app::kReportFileName)});
    if (fileName.isEmpty()) return;
    const QByteArray report =
        QByteArray::fromStdString(app::ReportText(failures, app::ReportFormat::Spreadsheet));
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(report) == report.size() && file.commit())
        return;
    ShowUnexpectedError(
        app::ReportNotSavedText(ToPath(fileName), file.errorString().toStdString()));
}

DesktopNotifier& TForm1::Notifier() {
    if (!notifier_) notifier_ = std::make_unique<DesktopNotifier>();
    return *notifier_;
}

void TForm1::SetDesktopNotifier(std::unique_ptr<DesktopNotifier> notifier) {
    notifier_ = std::move(notifier);
}

void TForm1::UpdateLauncher() {
    if (!runClock_.isValid() || runClock_.elapsed() < longRunMs) return;
    const int percent = ProgressBar1->value();
    if (percent == launcherPercent_) return;
    launcherPercent_ = percent;
    Notifier().showProgress(percent / 100.0);
}

void TForm1::ReadStoredPolicy() {
    switch (app::LoadStoredPolicy()) {
        case SameFilePolicy::Overwrite:
            Rb1->setChecked(true);
            break;
        case SameFilePolicy::Skip:
            Rb2->setChecked(true);
            break;
        case SameFilePolicy::Ask:
            Rb3->setChecked(true);
            break;
        case SameFilePolicy::AutoNumber:
            RbRename->setChecked(true);
            break;
    }
    CheckVerify->setChecked(LoadVerifyAfterCopy());
}

void TForm1::StorePolicy() {
    app::StorePolicy(CheckedPolicy());
    SaveVerifyAfterCopy(CheckVerify->isChecked());
}

SameFilePolicy TForm1::CheckedPolicy() const {
    if (Rb1->isChecked()) return SameFilePolicy::Overwrite;
    if (Rb2->isChecked()) return SameFilePolicy::Skip;
    if (Rb3->isChecked()) return SameFilePolicy::Ask;
    return SameFilePolicy::AutoNumber;
}

int TForm1::SelectedRow(const QListView* view) {
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void TForm1::ShowUnexpectedError(const std::string& message) {
    prompts().error(QString::fromStdString(app::ErrorBoxText(message)));
}

// --- Long operations ----------------------------------------------------------------------

void TForm1::RunLongOperation(const std::function<void()>& work) {
    const BusyScope busy(*this);
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued behind every progress update the work has posted.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

bool TForm1::AskOnGuiThread(const std::string& question) {
    bool yes = false;
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        this,
        [&] {
            try {
                // An answer for the rest of the run answers without a box.
                if (const std::optional<bool> remembered = runAnswers_.remembered()) {
                    yes = *remembered;
                    return;
                }
                const OverwriteAnswer answer =
                    prompts().askOverwrite(QString::fromStdString(question));
                yes = runAnswers_.take(answer);
                // The file asked about stays; nothing new starts.
                if (answer == OverwriteAnswer::Stop) BtnStopClick();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
    return yes;
}

ShowProgress TForm1::ProgressOnGuiThread() {
    return [this, last = -1](int percent) mutable {
        if (percent == last) return;
        last = percent;
        QMetaObject::invokeMethod(
            this,
            [this, percent] {
                // Once the run's amount is known the bar follows the bytes; the pairs only
                // bring it to 100 at the end, and after a stop nothing moves it.
                if (runBar_.pairs(percent, stopRequest_.load()))
                    ProgressBar1->setValue(runBar_.value());
                UpdateLauncher();
            },
            Qt::QueuedConnection);
    };
}

// The engine reports at most about ten times a second, from whichever thread runs the copy;
// each report is copied and shown on this thread.
ShowTransfer TForm1::FiguresOnGuiThread() {
    return [this](const TransferFigures& figures) {
        if (runFiguresHook) runFiguresHook(figures);
        QMetaObject::invokeMethod(
            this,
            [this, figures] {
                lastFigures_ = figures;
                const int percent = figuresView_->show(figures);
                // A total that grows (files met that the count missed) never moves the bar
                // back.
                if (runClock_.isValid() && runBar_.bytes(percent, stopRequest_.load()))
                    ProgressBar1->setValue(runBar_.value());
                UpdateLauncher();
            },
            Qt::QueuedConnection);
    };
}

}  // namespace ostrivane
