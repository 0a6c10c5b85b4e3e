// The application's launch, notification clicks and quitting, as rules over
// plain values: the version text and the launch line, where a click on a
// desktop notification leads, and whether and how a quit proceeds.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancel.h"
#include "base/scheduler.h"
#include "base/task.h"
#include "watcher/platform.h"

namespace corvid {

class PushClient;
class Watcher;
class WindowRouter;

// --- version and launch ---------------------------------------------------

// "<short> (<build>)", "1.0" and "1" standing in for empty parts.
std::string versionText(std::string_view shortVersion, std::string_view buildNumber);
// This build's version text, from the project version (major.minor) and the
// CORVID_BUILD_NUMBER cache variable: for example "1.0 (1)".
const std::string& appVersionText();

// "app: launched 1.0 (1), setup incomplete, phones 0, login item 0".
std::string launchLine(std::string_view version, bool setupComplete, std::size_t phones,
                       LoginItemStatus loginItem);
std::string launchLine(const Watcher& watcher);

// The main window opens at launch while setup is incomplete.
inline bool opensMainWindowAtLaunch(bool setupComplete) { return !setupComplete; }

// --- notification clicks --------------------------------------------------

enum class NotificationRoute { instagramLogin, instagramInspect, main };

// Identifiers beginning with "login" (the lost-login notices, "login-<seconds>")
// open the Instagram window for logging in, those beginning with "message"
// (the messages shown on the desktop) open it to look at the inbox; any
// other, the empty one too, opens the main window.
NotificationRoute notificationRoute(std::string_view identifier);
void openForNotification(WindowRouter& router, std::string_view identifier);

// --- the tray menu's test notification -----------------------------------

// Title of the desktop notification that reports how the test went.
inline constexpr std::string_view kTestOutcomeTitle = "시험 알림 보내기";

// The tray menu's "시험 알림 보내기": sends the test notification to every
// phone and, since the menu has closed by then, shows the outcome (the push
// client's test note) as a desktop notification "test-<seconds>" (a click
// opens the main window, where the note shows too).
Task<void> sendTestFromMenu(PushClient& push, DesktopNotifier& notifier, const Clock& clock);

// --- quitting -------------------------------------------------------------

struct QuitAlertTexts {
  std::string_view message;
  std::string_view informative;
  std::string_view confirmButton;  // first, default
  std::string_view cancelButton;
};
inline constexpr QuitAlertTexts kQuitAlert{
    "Corvid를 종료할까요?",
    "종료하면 iPhone으로 DM 알림이 가지 않습니다. 다시 켜려면 앱 목록에서 Corvid를 여세요.",
    "종료", "취소"};

enum class QuitReply {
  terminateNow,     // quit at once
  terminateCancel,  // keep running
  terminateLater,   // the stop sequence runs; the application quits when it replies
};

// No phone: quit at once (nobody to tell). A system quit (logout, restart,
// shutdown) skips the confirmation; any other quit asks first.
enum class QuitStep { quitNow, confirm, stopSequence };
QuitStep quitStep(std::size_t pairingCount, bool systemQuit);

// How long a quit waits at most for the stopped-status report.
inline constexpr Duration kStoppedReportLimit = std::chrono::milliseconds(1500);

// Runs `report` and a 1.5-second sleep side by side and ends as soon as the
// first of them ends (the other is cancelled and winds down first).
Task<void> stopSequence(Scheduler& scheduler, Task<void> report);

// Guards quitting: decides, asks, reports "stopped" and replies.
class QuitController {
 public:
  struct Dependencies {
    Scheduler& scheduler;
    std::function<std::size_t()> pairingCount;
    // Shows the modal quit alert (kQuitAlert) frontmost; true for "종료".
    std::function<bool()> confirm;
    // The Watcher's sendStoppedStatus().
    std::function<Task<void>()> sendStoppedStatus;
    // The reply after terminateLater: the application may quit now.
    std::function<void()> terminate;
    // The Watcher's sendCurrentStatus(): the phones hear that watching goes
    // on after a session end that was called off. May be empty.
    std::function<Task<void>()> sendCurrentStatus = {};
  };

  explicit QuitController(Dependencies deps);
  ~QuitController();

  // The answer to a quit request. A request while a stop sequence is
  // already running answers terminateLater without a second report; once
  // the session's end has been reported, any quit proceeds at once.
  QuitReply shouldTerminate(bool systemQuit);
  bool stopping() const { return phase_ == Phase::stopping; }
  // The phones heard "stopped" at the session's end.
  bool phonesTold() const { return phase_ == Phase::endReported; }

  // The session is ending (logout, restart, shutdown) and its manager waits
  // for every member before it ends them: with a phone paired, "stopped" is
  // reported now, without a question and within the same limit, but the
  // application keeps running until it is told to quit. `ready` runs once
  // the report is over (at once when there is nothing to report).
  void sessionEnding(std::function<void()> ready);
  // The session's end was called off: watching goes on, and phones that
  // heard "stopped" hear the current status again.
  void sessionContinues();

 private:
  enum class Phase {
    running,
    reportingEnd,  // the session's end is being reported
    endReported,   // the phones know; waiting for the quit
    stopping,      // the stop sequence runs, then the application quits
  };
  void startReport(bool thenTerminate);
  void reportDone();

  Dependencies deps_;
  Phase phase_ = Phase::running;
  bool terminateAfterReport_ = false;
  std::vector<std::function<void()>> ready_;
  std::shared_ptr<CancelScope> sequence_;
};

}  // namespace corvid
