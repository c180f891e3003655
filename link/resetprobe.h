// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <utility>

// Qt reports a connection the peer reset and one it closed in order with the
// same error. These tell them apart, in the system's own terms.

// For an unbuffered socket, before reading it: true when the peer reset the
// connection (a pending error may be taken; data waiting is not).
bool takePendingReset(qintptr socketDescriptor);

// For a connection that Qt has not closed: true when it ended in a reset,
// whether or not its end has been read.
bool connectionWasReset(qintptr socketDescriptor);

// For a buffered socket, whose own reads take the error first: a second
// handle on the socket that outlives Qt's close, asked once Qt has ended it.
class ResetProbe {
public:
    ResetProbe() = default;
    ResetProbe(const ResetProbe &) = delete;
    ResetProbe &operator=(const ResetProbe &) = delete;
    ResetProbe(ResetProbe &&other) noexcept
        : m_handle(std::exchange(other.m_handle, -1)) {}
    ResetProbe &operator=(ResetProbe &&other) noexcept {
        if (this != &other) {
            drop();
            m_handle = std::exchange(other.m_handle, -1);
        }
        return *this;
    }
    ~ResetProbe() { drop(); }

    void keep(qintptr socketDescriptor); // a probe kept before is dropped
    bool saysReset() const;
    void drop();

private:
    qintptr m_handle = -1;
};
