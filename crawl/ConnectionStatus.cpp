#include "crawl/ConnectionStatus.h"

std::string ConnectionStatusText(int code, const char* info) {
    const char* text = "NOOP";
    bool withInfo = false;
    switch (code) {
        case kResolvingName:
            text = "Resolving DNS enty for ";
            withInfo = true;
            break;
        case kNameResolved:
            text = "DNS: ";
            withInfo = true;
            break;
        case kConnectingToServer:
            text = "Connecting to";
            withInfo = true;
            break;
        case kConnectedToServer:
            text = "Connected to";
            withInfo = true;
            break;
        case kSendingRequest: text = "Sending request"; break;
        case kRequestSent: text = "Request send"; break;
        case kReceivingResponse: text = "Waiting for reply"; break;
        case kResponseReceived: text = "Response received"; break;
        case kClosingConnection: text = "Closing connection"; break;
        case kConnectionClosed: text = "Connection closed"; break;
        case kHandleCreated: text = "Handle created"; break;
        case kHandleClosing: text = "Handle closed"; break;
        case kRequestComplete: text = "Request complete"; break;
        default: break;
    }
    std::string result = text;
    if (withInfo && info != nullptr) result += info;
    return result;
}
