#pragma once
// The stages of a page's connection and the texts the status line shows for them.
#include <string>

// Numbered as the status line has always known them.
enum ConnectionStage {
    kResolvingName = 10,
    kNameResolved = 11,
    kConnectingToServer = 20,
    kConnectedToServer = 21,
    kSendingRequest = 30,
    kRequestSent = 31,
    kReceivingResponse = 40,
    kResponseReceived = 41,
    kClosingConnection = 50,
    kConnectionClosed = 51,
    kHandleCreated = 60,
    kHandleClosing = 70,
    kRequestComplete = 100,
};

// The text shown for a stage; `info` (may be null) follows the stages that name a
// host or an address. Any other code shows "NOOP".
std::string ConnectionStatusText(int code, const char* info);
