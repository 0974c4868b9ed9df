// The counts of a run.
#include "app/fate.h"

namespace tessaly {

bool ProcessedFate(Fate fate) {
  return fate != Fate::kFailed && fate != Fate::kSkipped && fate != Fate::kAlreadyResult;
}

void RunCounts::Add(Fate fate, const PictureResult* picture) {
  ++seen;
  if (fate == Fate::kFailed) {
    ++failed;
    return;
  }
  if (picture != nullptr && ProcessedFate(fate)) {
    const HeaderState header = StateOf(*picture);
    if (header == HeaderState::kNotRead) ++unread;
    if (header == HeaderState::kNoName) ++unnamed;
    if (header == HeaderState::kDoubtful ||
        (header == HeaderState::kNamed && picture->header_doubtful)) {
      ++doubtful;
    }
  }
  switch (fate) {
    case Fate::kSaved:
      ++saved;
      break;
    case Fate::kWouldSave:
      ++would_save;
      break;
    case Fate::kUnchanged:
      ++unchanged;
      break;
    case Fate::kDeclined:
      ++declined;
      break;
    case Fate::kKeptOriginal:
      ++originals_kept;
      break;
    case Fate::kAlreadyResult:
      ++results;
      break;
    case Fate::kUnreadLeft:
      break;  // counted under "header not read" alone
    case Fate::kUpToDate:
      ++up_to_date;
      break;
    case Fate::kCollided:
    case Fate::kWouldCollide:
      ++collided;
      break;
    case Fate::kSkipped:
    case Fate::kFailed:
      ++skipped;
      break;
  }
}

}  // namespace tessaly
