// Hands a transfer's messages from its worker thread to the main loop. Progress that
// arrives while an earlier report still waits for the loop joins that report: the
// sum of the values is the same, the loop is woken far less often, and the end
// message still comes after every byte has been reported.
#ifndef LUMORA_NET_LOOP_NOTIFY_H_
#define LUMORA_NET_LOOP_NOTIFY_H_

#include "net/inet_file.h"
#include "os/main_loop.h"

namespace net {

// A notify function for a transfer that calls |handler| on |loop|'s thread.
TransferNotify NotifyOnLoop(os::MainLoop& loop, TransferNotify handler);

}  // namespace net

#endif  // LUMORA_NET_LOOP_NOTIFY_H_
