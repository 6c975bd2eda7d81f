#include "MainWindow.h"

#include <calmora/sync.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

namespace calmora::host {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A timer's delay, clamped to what QTimer takes.
int Milliseconds(double ms) {
    return static_cast<int>(std::clamp(ms, 0.0, static_cast<double>(std::numeric_limits<int>::max())));
}

const char* MemberFor(Mode mode) {
    switch (mode) {
    case Mode::Preview: return "Preview";
    case Mode::PhotoPreview: return "Ppreview";
    case Mode::Play: break;
    }
    return "fileOpen";
}

QString KindText(const AsanaInfo* a, bool catalogueRead) {
    if (!a) return catalogueRead ? QStringLiteral("not in the catalogue") : QString();
    switch (a->kind) {
    case AsanaKind::Video:
        return a->cues.size() == 1 ? QStringLiteral("video, 1 cue")
                                   : QStringLiteral("video, %1 cues").arg(a->cues.size());
    case AsanaKind::Photo:
        return a->photos == 1 ? QStringLiteral("1 photo") : QStringLiteral("%1 photos").arg(a->photos);
    case AsanaKind::Unknown: break;
    }
    return QString();
}

}  // namespace

MainWindow::MainWindow(const HostOptions& options, std::vector<ScriptAction> script, CatalogueInfo info)
    : options_(options),
      script_(std::move(script)),
      info_(std::move(info)),
      names_(LessonNames(options)),
      lessonMember_(MemberFor(options.mode)),
      status_(&info_) {
    // Without names on the command line or a lesson.txt, the lesson is the catalogue in stored order.
    if (names_.empty())
        for (const auto& a : info_.asanas) names_.push_back(a.name);
    options_.asanas = names_;

    setWindowTitle(QStringLiteral("Calmora"));
    setObjectName(QStringLiteral("CalmoraWindow"));

    play_ = MakeAction("play", tr("Play"), Qt::Key_P, &MainWindow::Play);
    play_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    play_->setToolTip(tr("Play the chosen asana, then the rest of the lesson (P)"));
    preview_ = MakeAction("preview", tr("Preview"), {}, &MainWindow::Preview);
    preview_->setToolTip(tr("Show the video alone, or the photos without their sounds"));
    photoPreview_ = MakeAction("photoPreview", tr("Photo preview"), {}, &MainWindow::PhotoPreview);
    photoPreview_->setToolTip(tr("Run the photos of a photo asana as a quick silent slide show"));
    pause_ = MakeAction("pause", tr("Pause"), {}, &MainWindow::Pause);
    pause_->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    pause_->setToolTip(tr("Pause (Space)"));
    resume_ = MakeAction("resume", tr("Resume"), {}, &MainWindow::Resume);
    resume_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    resume_->setToolTip(tr("Resume (Space)"));
    stop_ = MakeAction("stop", tr("Stop"), Qt::Key_S, &MainWindow::Stop);
    stop_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    stop_->setToolTip(tr("Stop (S)"));
    // One key for both: pause what runs, resume what is paused.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, &MainWindow::TogglePause);

    auto* quit = new QAction(tr("Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    auto* about = new QAction(tr("About Calmora"), this);
    connect(about, &QAction::triggered, this, &MainWindow::About);

    QMenu* lessonMenu = menuBar()->addMenu(tr("&Lesson"));
    lessonMenu->addActions({play_, preview_, photoPreview_});
    lessonMenu->addSeparator();
    lessonMenu->addActions({pause_, resume_, stop_});
    lessonMenu->addSeparator();
    lessonMenu->addAction(quit);
    menuBar()->addMenu(tr("&Help"))->addAction(about);

    // The control sits in a sunken frame at its design size; nothing resizes it.
    auto* frame = new QFrame;
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(1, 1, 1, 1);
    videoFrame_ = frame;

    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("lesson"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({tr("Asana"), tr("Kind")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setMinimumWidth(260);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    BuildList();
    connect(list_, &QTreeWidget::itemActivated, this, [this] { Play(); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &MainWindow::UpdateActions);

    auto* lessonLabel = new QLabel(tr("Lesson"));
    QFont bold = lessonLabel->font();
    bold.setBold(true);
    lessonLabel->setFont(bold);
    lessonLabel->setBuddy(list_);

    auto button = [](QAction* action) {
        auto* b = new QToolButton;
        b->setDefaultAction(action);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setFocusPolicy(Qt::NoFocus);  // the keys belong to the list and the window's shortcuts
        b->setMinimumWidth(84);
        return b;
    };
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button(play_));
    buttons->addWidget(button(preview_));
    buttons->addWidget(button(photoPreview_));
    buttons->addStretch(1);
    buttons->addWidget(button(pause_));
    buttons->addWidget(button(resume_));
    buttons->addWidget(button(stop_));

    auto* central = new QWidget;
    auto* grid = new QGridLayout(central);
    grid->addWidget(frame, 0, 0, 2, 1, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(lessonLabel, 0, 1);
    grid->addWidget(list_, 1, 1);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    setCentralWidget(central);

    statusText_ = new QLabel;
    statusText_->setObjectName(QStringLiteral("status"));
    statusText_->setTextFormat(Qt::PlainText);
    position_ = new QLabel;
    position_->setObjectName(QStringLiteral("position"));
    statusBar()->addWidget(statusText_, 1);
    statusBar()->addPermanentWidget(position_);
    statusBar()->setSizeGripEnabled(false);

    // The runtime, the trace and the lesson. The control itself is created in Begin.
    tap_ = std::make_unique<TraceTap>([this](std::string_view line) { OnTraceLine(line); });
    forms_ = CreateQtRuntime(frame);
    frameLayout->addWidget(static_cast<QWidget*>(QtRuntimeSurface(*forms_)));
    // The status line reads the trace, so it is always written; --trace decides whether it is shown.
    trace_ = std::make_unique<Trace>(options_.trace == TraceLevel::None ? TraceLevel::Commands : options_.trace,
                                     forms_->clock(), tap_->file(), true);
    forms_->SetTickErrorHandler([this](std::string_view timer, std::string_view what) { trace_->TickFailed(timer, what); });
    lesson_ = std::make_unique<Lesson>(options_, *forms_, *trace_, [this](std::int64_t at, std::function<void()> fn) {
        const std::int64_t delay = std::max<std::int64_t>(0, at - forms_->clock().nowMs());
        QTimer::singleShot(Milliseconds(static_cast<double>(delay)), Qt::PreciseTimer, this, std::move(fn));
    });
    // The window, not the lesson, decides what follows a VideoEnd (previews stop after their asana).
    lesson_->autoAdvance = false;
    lesson_->onVideoEnd = [this] { OnVideoEnd(); };

    // The keys of the headless host work here too, on standard input.
    keys_ = std::make_unique<Keys>([this](char k) {
        switch (k) {
        case 'p': Pause(); break;
        case 'r': Resume(); break;
        case 's': Stop(); break;
        case 'q': close(); break;
        default: break;
        }
    });
    auto* keyPoll = new QTimer(this);
    connect(keyPoll, &QTimer::timeout, this, [this] { keys_->Poll(); });
    keyPoll->start(50);

    statusText_->setText(info_.problem.empty() || !names_.empty()
                             ? tr("Ready")
                             : tr("The catalogue cannot be read: %1").arg(Q(info_.problem)));
    UpdateActions();
    list_->setFocus();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::MakeAction(const QString& name, const QString& text, const QKeySequence& key,
                                void (MainWindow::*slot)()) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
}

void MainWindow::BuildList() {
    const bool read = !info_.asanas.empty();
    for (std::size_t i = 0; i < names_.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_, {Q(names_[i]), KindText(Known(i), read)});
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        if (read && !Known(i)) item->setForeground(1, palette().brush(QPalette::Disabled, QPalette::Text));
    }
    if (!names_.empty()) list_->setCurrentItem(list_->topLevelItem(0));
}

const AsanaInfo* MainWindow::Known(std::size_t index) const {
    return index < names_.size() ? info_.Find(names_[index]) : nullptr;
}

int MainWindow::SelectedIndex() const {
    const auto selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : selected.front()->data(0, Qt::UserRole).toInt();
}

void MainWindow::Begin() {
    // The limit runs from the first call, also through a message box the first asana may bring up.
    if (options_.maxSeconds)
        QTimer::singleShot(Milliseconds(*options_.maxSeconds * 1000), Qt::PreciseTimer, this, [this] {
            if (!finished_) std::fprintf(stderr, "calmora: time limit reached before the lesson ended\n");
            Finish(finished_ ? 0 : 3);
        });
    if (!names_.empty()) {
        started_ = true;
        lessonRun_ = true;
        current_ = 0;
        MarkCurrent();
    }
    try {
        // Starts the first asana with the mode's member and posts the script through our poster.
        lesson_->Begin(script_);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calmora: %s\n", e.what());
        statusText_->setText(Q(e.what()));
        Finish(2);
        return;
    }
    loaded_ = true;
    if (names_.empty()) {
        finished_ = true;  // nothing to play: the lesson is over before it began, as headless
        statusText_->setText(info_.problem.empty() ? tr("Nothing to play: the catalogue holds no asanas")
                                                   : tr("The catalogue cannot be read: %1").arg(Q(info_.problem)));
    }
    UpdateActions();
}

void MainWindow::OnTraceLine(std::string_view line) {
    if (options_.trace != TraceLevel::None) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (!status_.OnTraceLine(line) || closing_) return;
    statusText_->setText(Q(status_.Text()));
    UpdateActions();
}

void MainWindow::OnVideoEnd() {
    if (!lessonRun_) return;
    if (current_ + 1 < names_.size()) {
        PlayIndex(current_ + 1, lessonMember_, true);
        return;
    }
    lessonRun_ = false;
    finished_ = true;
    statusText_->setText(tr("Lesson finished"));
    UpdateActions();
    // A lesson left to run by itself ends the program, as headless; one the user took in hand stays.
    if (!userChose_) Finish(0);
}

void MainWindow::Finish(int status) {
    exitStatus_ = status;
    closing_ = true;
    QCoreApplication::exit(status);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) Finish(finished_ ? 0 : 3);
    event->accept();
}

void MainWindow::MarkCurrent() {
    const QIcon playing = style()->standardIcon(QStyle::SP_MediaPlay);
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        const bool current = started_ && static_cast<std::size_t>(i) == current_;
        QFont font = item->font(0);
        font.setBold(current);
        item->setFont(0, font);
        item->setIcon(0, current ? playing : QIcon());
    }
    const int total = static_cast<int>(names_.size());
    position_->setText(started_ && total > 0 ? tr("%1 of %2").arg(static_cast<int>(current_) + 1).arg(total)
                                             : QString());
}

void MainWindow::UpdateActions() {
    const int selected = SelectedIndex();
    const bool ready = loaded_ && !closing_;
    play_->setEnabled(ready && selected >= 0);
    preview_->setEnabled(ready && selected >= 0);
    // Ppreview reads a photo table: a video asana has none.
    const AsanaInfo* known = selected >= 0 ? Known(static_cast<std::size_t>(selected)) : nullptr;
    photoPreview_->setEnabled(ready && selected >= 0 && !(known && known->kind == AsanaKind::Video));
    pause_->setEnabled(status_.Running());
    resume_->setEnabled(status_.activity() == Activity::Paused);
    stop_->setEnabled(status_.Running() || status_.activity() == Activity::Paused);
}

void MainWindow::PlayIndex(std::size_t index, const char* member, bool lessonRun) {
    if (index >= names_.size()) return;
    // The selection follows the lesson unless the user has moved it elsewhere.
    const int selected = SelectedIndex();
    if (started_ && selected == static_cast<int>(current_) && index != current_)
        list_->setCurrentItem(list_->topLevelItem(static_cast<int>(index)));
    current_ = index;
    started_ = true;
    lessonRun_ = lessonRun;
    MarkCurrent();
    lesson_->Call("AsanaNaME", names_[index]);
    lesson_->Call(member);
}

void MainWindow::Play() {
    const int selected = SelectedIndex();
    if (selected < 0 || !play_->isEnabled()) return;
    userChose_ = true;
    PlayIndex(static_cast<std::size_t>(selected), "fileOpen", true);
}

void MainWindow::Preview() {
    const int selected = SelectedIndex();
    if (selected < 0 || !preview_->isEnabled()) return;
    userChose_ = true;
    PlayIndex(static_cast<std::size_t>(selected), "Preview", false);
}

void MainWindow::PhotoPreview() {
    const int selected = SelectedIndex();
    if (selected < 0 || !photoPreview_->isEnabled()) return;
    userChose_ = true;
    PlayIndex(static_cast<std::size_t>(selected), "Ppreview", false);
}

void MainWindow::Pause() {
    if (loaded_ && status_.Running()) lesson_->Call("Pause");
}

void MainWindow::Resume() {
    if (loaded_ && status_.activity() == Activity::Paused) lesson_->Call("Start");
}

void MainWindow::Stop() {
    if (!loaded_ || !(status_.Running() || status_.activity() == Activity::Paused)) return;
    userChose_ = true;
    lessonRun_ = false;
    lesson_->Call("StopPlay");
}

void MainWindow::TogglePause() {
    if (status_.activity() == Activity::Paused)
        Resume();
    else
        Pause();
}

void MainWindow::About() {
    QMessageBox::about(this, tr("About Calmora"),
                       tr("<p><b>Calmora</b></p>"
                          "<p>Plays the asanas of a lesson with the Calmora player control: videos with their "
                          "spoken cues, and photo series timed by their sounds.</p>"
                          "<p>Player control sync.ocx %1<br>Resources: %2</p>")
                           .arg(QString::fromLatin1(CalmoraSyncVersion()), Q(options_.resources).toHtmlEscaped()));
}

}  // namespace calmora::host
