#include "net/http_client.h"

#include <optional>

#include "net/encodings.h"
#include "net/socket_errors.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// A response head past these bounds is no head a server would send: without them a
// server that keeps sending short lines would hold the run and grow the list for ever.
constexpr size_t MaxHeadLines = 256;
constexpr size_t MaxHeadBytes = 64 * 1024;

// Where the path part of a URL text begins: after an "http://" scheme, the first "/" or
// "\"; npos when there is none.
size_t PathStart(const std::string& url) {
    size_t from = plat::UpperCase(std::string_view(url).substr(0, 7)) == "HTTP://" ? 7 : 0;
    return url.find_first_of("/\\", from);
}

// Backslashes in the path part are sent as slashes, as browsers do for http URLs: a site
// URL that ends with "\" or a manifest name with "\" folders would otherwise ask servers
// for names they don't have.
std::string WithSlashes(std::string text, size_t from) {
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] == '\\') text[i] = '/';
    return text;
}

// A request line holds no blank, control or 8-bit byte: a name with one ("my plugins\\a.dll")
// is sent %-escaped, as browsers send it, and servers hand it back to the name on disk.
// "%" itself stays as written, so a URL that is already escaped reaches the server as it is.
std::string ForRequestLine(const std::string& target) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : target) {
        if (c > ' ' && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

void WriteLine(TMemoryStream& stream, const std::string& line) {
    stream.Write(line.data(), static_cast<int64_t>(line.size()));
    stream.Write("\r\n", 2);
}

} // namespace

TmsHTTPClient::TmsHTTPClient() {
    DefaultPort = 80;
    FPort = 80;
}

void TmsHTTPClient::SetURL(const std::string& url) {
    FURL = url;
    std::string copy = url;
    // "https://" asks for TLS, on port 443 unless the URL names another.
    Secure = plat::UpperCase(std::string_view(copy).substr(0, 8)) == "HTTPS://";
    DefaultPort = Secure ? 443 : 80;
    if (Secure)
        copy.erase(0, 8);
    else if (plat::UpperCase(std::string_view(copy).substr(0, 7)) == "HTTP://")
        copy.erase(0, 7);
    size_t slash = copy.find_first_of("/\\");
    if (slash == std::string::npos) {
        SetHost(copy);
        FPath = "/";
        return;
    }
    SetHost(copy.substr(0, slash));
    FPath = WithSlashes(copy.substr(slash), 0);
    if (FPath.empty()) FPath = "/";
}

int32_t TmsHTTPClient::Get() {
    ResetState();
    Connect();
    int32_t status;
    try {
        if (OnSendingRequest) OnSendingRequest(this);
        SendRequest("GET");
        if (OnRequestSent) OnRequestSent(this);
        Bounds.SetDeadline(TimeOut());
        status = ReadHeaders();
        Bounds.Clear();
        Bounds.SetRateFloor(MinBodyBytes, MinBodyWindow);
        ReadBody();
        Bounds.Clear();
    } catch (...) {
        // An error out of Disconnect replaces the one on its way out.
        Bounds.Clear();
        StopTimeCounter();
        Disconnect();
        throw;
    }
    StopTimeCounter();
    Disconnect();
    return status;
}

void TmsHTTPClient::SendRequest(const std::string& method) {
    std::string target = FPath;
    // Inside a tunnel the request goes to the server itself, as without a proxy.
    if (!Proxy().empty() && !Secure) {
        size_t path = PathStart(FURL);
        target = path == std::string::npos ? FURL : WithSlashes(FURL, path);
        if (target.find('/', 7) == std::string::npos) target += '/';
    }
    TMemoryStream head;
    WriteLine(head, method + " " + ForRequestLine(target) + " HTTP/1.1");
    WriteLine(head, "Host: " + Host());
    WriteLine(head, "Accept: */*");
    if (Authorization)
        WriteLine(head, "Authorization: Basic " + EncodeBase64(UserName + ":" + Password));
    // The proxy's credentials never travel inside TLS: only the proxy may read them, and
    // it had them with CONNECT.
    if (ProxyAuthorization && !Secure) WriteLine(head, ProxyCredentialsLine());
    if (!UserAgent.empty()) WriteLine(head, "User-Agent: " + UserAgent);
    WriteLine(head, "Connection: close");
    WriteLine(head, "");
    SendStream(head, 0);
}

std::string TmsHTTPClient::ProxyCredentialsLine() const {
    return "Proxy-Authorization: Basic " + EncodeBase64(ProxyUserName + ":" + ProxyPassword);
}

void TmsHTTPClient::OpenTunnel() {
    const std::string target = std::string(TargetName()) + ":" + std::to_string(TargetPort());
    std::string request = "CONNECT " + ForRequestLine(target) +
                          " HTTP/1.1\r\nHost: " + ForRequestLine(target) + "\r\n";
    if (ProxyAuthorization) request += ProxyCredentialsLine() + "\r\n";
    request += "\r\n";
    SendBuffer(request.data(), static_cast<int32_t>(request.size()));
    // The proxy's answer is held to the bounds of any response head.
    TmsHeaders answer;
    Bounds.SetDeadline(TimeOut());
    int32_t status;
    try {
        status = ReadHead(answer);
    } catch (...) {
        Bounds.Clear();
        throw;
    }
    Bounds.Clear();
    if (status < 200 || status > 299)
        throw Exception("The proxy refused the tunnel to " + target + ": " +
                        (answer.empty() || answer[0].empty() ? "no status line" : answer[0]));
}

int32_t TmsHTTPClient::ReadHeaders() {
    return ReadHead(FHeaders);
}

int32_t TmsHTTPClient::ReadHead(TmsHeaders& head) {
    head.clear();
    int32_t status = -1;
    std::string line;
    size_t bytes = 0;
    do {
        plat::Presentation().ProcessMessages();
        line = ReceiveLine();
        bytes += line.size() + 2;
        if (head.size() >= MaxHeadLines || bytes > MaxHeadBytes) throw EmsTooMuchDataError();
        head.push_back(line);
    } while (!line.empty());
    if (!head.empty()) status = plat::TryDecimalToInt(WordAt(head[0], 1, true)).value_or(-1);
    return status;
}

void TmsHTTPClient::ReadBody() {
    // The memory of the last body is kept for this one: a body of about the same size
    // arrives without the cost of fresh pages. What is left over is given back below.
    FResponseStream.Clear();
    if (plat::LowerCase(FieldValue(FHeaders, "Transfer-Encoding")) == "chunked") {
        ReceiveChunked(FResponseStream);
    } else {
        // Not a number, or out of range: read until the server closes.
        int32_t length = plat::TryDecimalToInt(FieldValue(FHeaders, "Content-Length")).value_or(-1);
        // An announced length past the limit fails before a byte of it is read.
        if (length > FResponseStream.Limit) throw EmsBodyTooLargeError(FResponseStream.Limit);
        ReceiveStream(FResponseStream, length, 0);
    }
    FResponseStream.Trim();
    FResponseStream.SetPosition(0);
}
