#pragma once
// The HTTP/1.1 GET client: one request per connection, directly or through a proxy, with
// optional Basic credentials for the server and the proxy. The body of any response, error
// pages included, lands in ResponseStream.
#include <cstdint>
#include <string>

#include "net/headers.h"
#include "net/socket.h"
#include "net/socket_errors.h"
#include "net/stream.h"

class TmsHTTPClient : public TmsClientSocket {
public:
    TmsHTTPClient();

    // The URL of the next request, kept exactly as assigned. Assigning derives Host, Port,
    // Path and Secure ("https://", port 443 by default); never fails. Every "\" in the path
    // part is taken as "/".
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& url);
    const std::string& Path() const { return FPath; }

    bool Authorization = false;
    std::string UserName, Password;
    bool ProxyAuthorization = false;
    std::string ProxyUserName, ProxyPassword;
    std::string UserAgent; // sent as "User-Agent: " when not empty

    // The header block of the last response (status line first, an empty entry last).
    const TmsHeaders& Headers() const { return FHeaders; }
    void SetHeaders(const TmsHeaders& headers) { FHeaders = headers; }

    TmsNotifyEvent OnSendingRequest, OnRequestSent;

    // A body must bring at least MinBodyBytes in every MinBodyWindow seconds; the head must
    // arrive whole within TimeOut seconds. Either failing is a time-out.
    int64_t MinBodyBytes = 1024;
    int32_t MinBodyWindow = 60;

    // Sends one GET for URL and reads the response. Returns the status code, -1 when the
    // status line holds none. Raises EWinsockError, EmsTimedOutError, EmsCanceledError,
    // EmsTooMuchDataError or Exception "Error receiving the stream"; over TLS also
    // ETlsError, and Exception for a proxy that refuses the tunnel or an unreadable CAFile.
    // A failure while the body is read leaves the bytes received so far in ResponseStream.
    // A body longer than ResponseStream().Limit raises EmsBodyTooLargeError.
    int32_t Get();

    // The body of the last response; position 0 after a successful Get. Its SpillFolder
    // and Limit are the caller's to set.
    TBodyStream& ResponseStream() { return FResponseStream; }

protected:
    void SendRequest(const std::string& method);
    int32_t ReadHeaders();
    void ReadBody();
    // CONNECT with the proxy's credentials; any answer but 2xx raises with its status line.
    void OpenTunnel() override;

private:
    // A response head into head, its status code returned (-1 when it holds none).
    int32_t ReadHead(TmsHeaders& head);
    std::string ProxyCredentialsLine() const;

    std::string FURL, FPath = "/";
    TmsHeaders FHeaders;
    TBodyStream FResponseStream;
};
