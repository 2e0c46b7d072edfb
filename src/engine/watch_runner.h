#pragma once
// Runs the watch list over a session shared with other requesters (the
// panel's own Send among them): the scheduler picks the block whose turn it
// is, the runner submits its read as one transaction of its own requester,
// and feeds the outcome back to the model and the scheduler. One block at a
// time is out; the session keeps the link to one request in flight and lets
// a requester that asks (SendNow) go next, so the panel is never starved.
//
// Every event of the runner's own transactions is handed on to `forward`
// (the panel logs them like its own); link events reach the session's other
// requesters directly and are only watched here for a lost transaction.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"
#include "engine/watch_model.h"
#include "engine/watch_scheduler.h"
#include "modbus/types.h"
#include "platform/platform.h"

namespace engine {

class WatchRunner {
 public:
  // `mode` tells the framing the link uses now; `forward` gets the events of
  // the runner's own transactions; `decimalSeparator` is written into the
  // 32-bit values, as in the panel's response view.
  WatchRunner(Session& session, std::shared_ptr<platform::Clock> clock, std::unique_ptr<platform::Timer> timer,
              std::function<modbus::Mode()> mode, Session::Sink forward = {}, std::string decimalSeparator = ".");
  ~WatchRunner();
  WatchRunner(const WatchRunner&) = delete;
  WatchRunner& operator=(const WatchRunner&) = delete;

  // The list. Each forwards to the model and the scheduler together.
  WatchBlockId Add(const WatchBlockConfig& config);
  bool Edit(WatchBlockId id, const WatchBlockConfig& config);
  bool Remove(WatchBlockId id);
  bool SetPaused(WatchBlockId id, bool paused);
  bool Move(WatchBlockId id, size_t position);
  void Clear();

  // Polling of the list as a whole: nothing goes out while stopped.
  void Start();
  void Stop();
  bool Running() const { return running_; }

  // Looks whether a block can go out now, and arms the timer for the next
  // due time otherwise. The runner runs it from its timer after each change
  // and each event; never call it from inside a session's event.
  void Pump();

  const WatchModel& Model() const { return model_; }
  const WatchScheduler& Scheduler() const { return scheduler_; }
  RequesterId Requester() const { return requester_; }
  // Transactions the runner put on the wire while another request was
  // awaited on the link (never expected to be more than 0).
  uint64_t Overlaps() const { return overlaps_; }

  // Told after each block's transaction has ended and the model holds its
  // outcome (a view adds the new values to its plot from here).
  std::function<void(WatchBlockId)> onFinished;

 private:
  void OnEvent(const Event& e);
  void Finish(WatchOutcome outcome, const Event* e);
  // Runs the pump from the timer, after the current report of the session.
  void Later();
  // Ends a transaction the session no longer holds as a connection error.
  void CheckLost();
  int64_t Now() const;

  Session& session_;
  std::shared_ptr<platform::Clock> clock_;
  std::unique_ptr<platform::Timer> timer_;
  std::function<modbus::Mode()> mode_;
  Session::Sink forward_;
  RequesterId requester_ = 0;
  WatchModel model_;
  WatchScheduler scheduler_;
  bool running_ = false;
  // The block out now and the revision it was read at.
  std::optional<WatchBlockId> out_;
  uint32_t outRevision_ = 0;
  bool outSent_ = false;
  int32_t transactionId_ = 0;
  uint64_t overlaps_ = 0;
  bool pumping_ = false;
  bool linkFailed_ = false;
  std::shared_ptr<WatchRunner*> alive_;
};

}  // namespace engine
