#include "Common/NetworkEvent.h"

#include <google/protobuf/message.h>

#include "Common/TcpConnection.h"

NetworkEvent::NetworkEvent() = default;

// Out of line so that the message and connection types are complete where they are freed.
NetworkEvent::~NetworkEvent() = default;
