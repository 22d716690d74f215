#pragma once
// The main application's side of a benchmark says yes to every capture the helper asks about.

#include "SharedHelperCommunication.h"
#include "xpc/Xpc.h"

// Answers a kXPCMessageRequestScreenSnap request with yes.
inline void allowCapture(const xpc::xpc_object_t& request) {
    xpc::xpc_object_t reply = xpc::xpc_dictionary_create_reply(request);
    xpc::xpc_dictionary_set_bool(reply, kXPCBooleanKey, true);
    xpc::xpc_connection_send_message(xpc::xpc_dictionary_get_remote_connection(request), reply);
}
