#include "app/lifecycle.h"

#include "app/window_router.h"
#include "push/push_client.h"
#include "ui/main_window_model.h"
#include "watcher/watcher.h"

namespace corvid {

std::string versionText(std::string_view shortVersion, std::string_view buildNumber) {
  return std::string(shortVersion.empty() ? "1.0" : shortVersion) + " (" +
         std::string(buildNumber.empty() ? "1" : buildNumber) + ")";
}

std::string launchLine(std::string_view version, bool setupComplete, std::size_t phones,
                       LoginItemStatus loginItem) {
  return "app: launched " + std::string(version) + ", setup " + (setupComplete ? "complete" : "incomplete") +
         ", phones " + std::to_string(phones) + ", login item " + std::to_string(static_cast<int>(loginItem));
}

std::string launchLine(const Watcher& w) {
  return launchLine(appVersionText(), isSetupComplete(w), w.push().pairings().size(), w.launchAtLogin());
}

NotificationRoute notificationRoute(std::string_view identifier) {
  if (identifier.starts_with("login")) return NotificationRoute::instagramLogin;
  if (identifier.starts_with("message")) return NotificationRoute::instagramInspect;
  return NotificationRoute::main;
}

void openForNotification(WindowRouter& router, std::string_view identifier) {
  switch (notificationRoute(identifier)) {
    case NotificationRoute::instagramLogin:
      router.showInstagram(InstagramMode::login);
      break;
    case NotificationRoute::instagramInspect:
      router.showInstagram(InstagramMode::inspect);
      break;
    case NotificationRoute::main:
      router.showMain();
      break;
  }
}

Task<void> sendTestFromMenu(PushClient& push, DesktopNotifier& notifier, const Clock& clock) {
  co_await push.sendTest();
  const std::optional<PushClient::Note> note = push.testNote();
  if (!note) co_return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch()).count();
  const std::string identifier = "test-" + std::to_string(seconds);
  if (co_await notifier.requestAuthorization()) notifier.post(identifier, std::string(kTestOutcomeTitle), note->text);
}

QuitStep quitStep(std::size_t pairingCount, bool systemQuit) {
  if (pairingCount == 0) return QuitStep::quitNow;
  return systemQuit ? QuitStep::stopSequence : QuitStep::confirm;
}

Task<void> stopSequence(Scheduler& scheduler, Task<void> report) {
  auto sleep = [](Scheduler& s) -> Task<void> {
    co_await sleepFor(s, kStoppedReportLimit);  // a cancelled sleep just ends
  };
  std::vector<Task<void>> children;
  children.push_back(std::move(report));
  children.push_back(sleep(scheduler));
  co_await firstOf(std::move(children));
}

QuitController::QuitController(Dependencies deps) : deps_(std::move(deps)) {}

QuitController::~QuitController() {
  if (sequence_) sequence_->cancel();
}

QuitReply QuitController::shouldTerminate(bool systemQuit) {
  switch (phase_) {
    case Phase::stopping:
      return QuitReply::terminateLater;
    case Phase::endReported:
      return QuitReply::terminateNow;  // the phones already know
    case Phase::reportingEnd:
      terminateAfterReport_ = true;  // the report under way ends in the quit
      return QuitReply::terminateLater;
    case Phase::running:
      break;
  }
  switch (quitStep(deps_.pairingCount(), systemQuit)) {
    case QuitStep::quitNow:
      return QuitReply::terminateNow;
    case QuitStep::confirm:
      if (!deps_.confirm()) return QuitReply::terminateCancel;
      // The question is modal: the session may have begun to end meanwhile.
      if (phase_ != Phase::running) return shouldTerminate(true);
      break;
    case QuitStep::stopSequence:
      break;
  }
  startReport(true);
  return QuitReply::terminateLater;
}

void QuitController::sessionEnding(std::function<void()> ready) {
  switch (phase_) {
    case Phase::reportingEnd:
      ready_.push_back(std::move(ready));
      return;
    case Phase::stopping:     // the application ends within the limit anyway
    case Phase::endReported:  // said already
      ready();
      return;
    case Phase::running:
      break;
  }
  if (deps_.pairingCount() == 0) {
    ready();  // nobody to tell
    return;
  }
  ready_.push_back(std::move(ready));
  startReport(false);
}

void QuitController::sessionContinues() {
  if (phase_ != Phase::reportingEnd && phase_ != Phase::endReported) return;
  if (sequence_) sequence_->cancel();  // a report under way stops its request
  sequence_.reset();
  phase_ = Phase::running;
  terminateAfterReport_ = false;
  for (auto& ready : std::exchange(ready_, {})) ready();
  // Even a report cut short may have reached the relay.
  if (deps_.sendCurrentStatus) spawn(deps_.sendCurrentStatus());
}

void QuitController::startReport(bool thenTerminate) {
  phase_ = thenTerminate ? Phase::stopping : Phase::reportingEnd;
  auto run = [](QuitController* self) -> Task<void> {
    co_await stopSequence(self->deps_.scheduler, self->deps_.sendStoppedStatus());
    // Cancelled when the controller goes away (then nobody is waiting) or
    // when the session's end was called off (which answered the waiters).
    std::shared_ptr<CancelScope> scope = co_await currentScope();
    if (scope->cancelled()) co_return;
    self->reportDone();
  };
  sequence_ = spawn(run(this));
}

void QuitController::reportDone() {
  if (phase_ == Phase::reportingEnd) {
    phase_ = terminateAfterReport_ ? Phase::stopping : Phase::endReported;
    for (auto& ready : std::exchange(ready_, {})) ready();
  }
  if (phase_ == Phase::stopping) deps_.terminate();
}

}  // namespace corvid
