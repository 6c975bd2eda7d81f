// The calmora window: the control's surface, the lesson list, the transport buttons and a status line.
#pragma once

#include "../HostOptions.h"
#include "../Keys.h"
#include "../Lesson.h"
#include "../Script.h"
#include "../Trace.h"
#include "CatalogueInfo.h"
#include "LessonStatus.h"
#include "TraceTap.h"

#include <calmora/Runtime.h>

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace calmora::host {

class MainWindow final : public QMainWindow {
public:
    MainWindow(const HostOptions& options, std::vector<ScriptAction> script, CatalogueInfo info);
    ~MainWindow() override;

    // Loads the control and starts the lesson (call once the window is on screen). On a start-up
    // failure the error goes to standard error and the run ends with status 2.
    void Begin();
    // 0 once the lesson has played to its end, 3 otherwise, 2 when the control could not be loaded.
    int ExitStatus() const { return exitStatus_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* MakeAction(const QString& name, const QString& text, const QKeySequence& key, void (MainWindow::*slot)());
    void BuildList();
    void OnTraceLine(std::string_view line);
    void OnVideoEnd();
    void Finish(int status);
    void UpdateActions();
    void MarkCurrent();
    const AsanaInfo* Known(std::size_t index) const;
    int SelectedIndex() const;

    // Plays the asana at index with fileOpen, Preview or Ppreview; a lesson run goes on to the next
    // asana of the list at each VideoEnd.
    void PlayIndex(std::size_t index, const char* member, bool lessonRun);
    void Play();
    void Preview();
    void PhotoPreview();
    void Pause();
    void Resume();
    void Stop();
    void TogglePause();
    void About();

    HostOptions options_;
    std::vector<ScriptAction> script_;
    CatalogueInfo info_;
    std::vector<std::string> names_;
    const char* lessonMember_;
    LessonStatus status_;

    QWidget* videoFrame_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* position_ = nullptr;
    QAction* play_ = nullptr;
    QAction* preview_ = nullptr;
    QAction* photoPreview_ = nullptr;
    QAction* pause_ = nullptr;
    QAction* resume_ = nullptr;
    QAction* stop_ = nullptr;

    std::size_t current_ = 0;
    bool loaded_ = false;      // the control exists
    bool started_ = false;     // an asana was started from the list
    bool lessonRun_ = false;   // VideoEnd goes on with the next asana
    bool userChose_ = false;   // the user picked what plays: the window stays after the lesson's end
    bool finished_ = false;    // the lesson's last asana has ended
    bool closing_ = false;
    int exitStatus_ = 3;

    // Destroyed in reverse order: the control before its runtime, the trace before its stream.
    std::unique_ptr<TraceTap> tap_;
    std::unique_ptr<Forms> forms_;
    std::unique_ptr<Trace> trace_;
    std::unique_ptr<Lesson> lesson_;
    std::unique_ptr<Keys> keys_;
};

}  // namespace calmora::host
