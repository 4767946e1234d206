#include "app/output/unit_outcome.h"

const char* UnitStatusName(UnitStatus status) {
  switch (status) {
    case UnitStatus::kOk:
      return "ok";
    case UnitStatus::kEmpty:
      return "empty";
    case UnitStatus::kFailed:
      break;
  }
  return "failed";
}
