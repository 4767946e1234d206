#include "app/call_limits.h"

#include <cstring>

SReason CCallLimits::UnitCallFailure(const char* operation) const {
  SReasonContext context;
  context.peer = Peer::kUnit;
  context.timeout_seconds = unit_seconds_;
  context.making_reference = std::strcmp(operation, "connect") == 0;
  return DescribeCurrentException(context);
}

SReasonContext CCallLimits::RepositoryContext() {
  SReasonContext context;
  context.peer = Peer::kRepository;
  context.timeout_seconds = kRepositoryCallMs / kMsPerSecond;
  return context;
}
