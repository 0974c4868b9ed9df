// The counts of a run.
#include "app/fate.h"

namespace tessaly {

bool ProcessedFate(Fate fate) {
  return fate != Fate::kFailed && fate != Fate::kSkipped && fate != Fate::kAlreadyResult &&
         fate != Fate::kKnown;
}

HeaderState CountedHeaderState(Fate fate, const PictureResult* picture) {
  if (picture == nullptr || !ProcessedFate(fate)) return HeaderState::kNamed;
  const HeaderState header = StateOf(*picture);
  return header == HeaderState::kNamed && picture->header_doubtful ? HeaderState::kDoubtful
                                                                   : header;
}

void RunCounts::Add(Fate fate, const PictureResult* picture, bool problem_known) {
  ++seen;
  if (problem_known || fate == Fate::kKnown) ++known;
  if (fate == Fate::kFailed) {
    ++failed;
    return;
  }
  switch (problem_known ? HeaderState::kNamed : CountedHeaderState(fate, picture)) {
    case HeaderState::kNotRead:
      ++unread;
      break;
    case HeaderState::kNoName:
      ++unnamed;
      break;
    case HeaderState::kDoubtful:
      ++doubtful;
      break;
    case HeaderState::kNamed:
      break;
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
    case Fate::kKnown:
      break;  // counted under known alone
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
