#include "platform/linux/speech/result_poster.h"

#include <utility>

namespace quorvane::platform::linux_backend {

ResultPoster::ResultPoster(MainQueue& mainQueue, ResultHandler handler, bool reportsPartialResults)
    : mainQueue_(mainQueue),
      shared_(std::make_shared<Shared>()),
      reportsPartialResults_(reportsPartialResults) {
  shared_->handler = std::move(handler);
}

void ResultPoster::postPartial(std::string text) {
  if (!reportsPartialResults_ || text == lastPostedText_) return;
  lastPostedText_ = text;
  post(RecognitionResult{std::move(text), false}, false);
}

void ResultPoster::postFinal(std::string text) {
  post(RecognitionResult{std::move(text), true}, false);
}

void ResultPoster::postError() { post(std::nullopt, true); }

void ResultPoster::cancel() { shared_->cancelled = true; }

bool ResultPoster::isCancelled() const { return shared_->cancelled; }

void ResultPoster::post(std::optional<RecognitionResult> result, bool hasError) {
  if (shared_->cancelled) return;
  // Checked again on the main queue: a cancel may come while the result
  // waits there.
  mainQueue_.post([shared = shared_, result = std::move(result), hasError] {
    if (!shared->cancelled) shared->handler(result, hasError);
  });
}

}  // namespace quorvane::platform::linux_backend
