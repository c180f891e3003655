#pragma once

#include <QtGlobal>

// Qt reports a connection the peer reset and one it closed in order with
// the same error; the socket's own pending error tells them apart. Call it
// before reading: true when the peer reset the connection (the pending
// error is taken).
bool takePeerReset(qintptr socketDescriptor);
