#pragma once

// What became of a packet handed to the sender.
enum class SendResult {
    Sent,        // handed to the socket on a connection of its own
    Busy,        // the socket still held the previous exchange: dropped
    NoConnection, // the connection failed or ended before the packet went out
    Withheld      // the host held the packet back on purpose, and has logged why
};
