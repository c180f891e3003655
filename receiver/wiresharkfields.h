// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

struct ReceiverOptions;

// The record layouts, frame limits and heartbeat bytes as a Lua table, the
// block between the layout markers of the Wireshark dissector
// (wireshark/talv.lua). Printed by `talvrecv --wireshark-fields`, so the
// dissector never restates a layout by hand.
QByteArray wiresharkFieldsLua(const ReceiverOptions &options);

inline constexpr char kWiresharkLayoutsBegin[] =
    "-- BEGIN LAYOUTS: written by talvrecv --wireshark-fields, do not edit";
inline constexpr char kWiresharkLayoutsEnd[] = "-- END LAYOUTS";
