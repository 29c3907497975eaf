#include "net/mshttp.h"

#include <optional>

#include "net/msmime.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// A decimal number in the signed 32-bit range: optional sign, digits, nothing else.
std::optional<int32_t> DecimalValue(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<int32_t>(value);
}

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
    if (plat::UpperCase(std::string_view(copy).substr(0, 7)) == "HTTP://") copy.erase(0, 7);
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
        status = ReadHeaders();
        ReadBody();
    } catch (...) {
        // An error out of Disconnect replaces the one on its way out.
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
    if (!Proxy().empty()) {
        size_t path = PathStart(FURL);
        target = path == std::string::npos ? FURL : WithSlashes(FURL, path);
        if (target.find('/', 7) == std::string::npos) target += '/';
    }
    TMemoryStream head;
    WriteLine(head, method + " " + target + " HTTP/1.1");
    WriteLine(head, "Host: " + Host());
    WriteLine(head, "Accept: */*");
    if (Authorization)
        WriteLine(head, "Authorization: Basic " + EncodeBase64(UserName + ":" + Password));
    if (ProxyAuthorization)
        WriteLine(head, "Proxy-Authorization: Basic " +
                            EncodeBase64(ProxyUserName + ":" + ProxyPassword));
    if (!UserAgent.empty()) WriteLine(head, "User-Agent: " + UserAgent);
    WriteLine(head, "Connection: close");
    WriteLine(head, "");
    SendStream(head, 0);
}

int32_t TmsHTTPClient::ReadHeaders() {
    FHeaders.clear();
    int32_t status = -1;
    std::string line;
    do {
        plat::Presentation().ProcessMessages();
        line = ReceiveLine();
        FHeaders.push_back(line);
    } while (!line.empty());
    if (!FHeaders.empty()) status = DecimalValue(WordAt(FHeaders[0], 1, true)).value_or(-1);
    return status;
}

void TmsHTTPClient::ReadBody() {
    // The memory of the last body is kept for this one: a body of about the same size
    // arrives without the cost of fresh pages. What is left over is given back below.
    FResponseStream.SetSize(0);
    if (plat::LowerCase(FieldValue(FHeaders, "Transfer-Encoding")) == "chunked") {
        ReceiveChunked(FResponseStream);
    } else {
        // Not a number, or out of range: read until the server closes.
        int32_t length = DecimalValue(FieldValue(FHeaders, "Content-Length")).value_or(-1);
        ReceiveStream(FResponseStream, length, 0);
    }
    if (FResponseStream.Capacity() > FResponseStream.Size() + FResponseStream.Size() / 8 + 65536)
        FResponseStream.ShrinkToFit();
    FResponseStream.SetPosition(0);
}
