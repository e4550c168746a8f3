// One lookup against the ticket service: libcurl with everything pinned down by the program (no
// environment, no redirects, bounded time and size), and the reply read field by field.
#include "online/TicketServiceClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "notary/TicketConstants.h"
#include "plist/XmlTree.h"

namespace tessarin {
namespace {

constexpr int kMaxReplyDepth = 32;  // the reply is four levels deep; anything far deeper is not it

TicketLookup failed(std::string detail) {
    TicketLookup l;
    l.status = TicketLookup::Status::Failed;
    l.detail = std::move(detail);
    return l;
}

TicketLookup notFound(std::string detail) {
    TicketLookup l;
    l.status = TicketLookup::Status::NotFound;
    l.detail = std::move(detail);
    return l;
}

// The parser keeps its own stack, but a reply nested thousands deep is refused before it is built.
bool nestedWithin(std::string_view body, int limit) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : body) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > limit) return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

// Only the service's own error codes are repeated; anything else it says is not echoed.
bool isErrorCode(const std::string& s) {
    return !s.empty() && s.size() <= 40 && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_") == std::string::npos;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Reply {
    std::string body;
    std::size_t limit = 0;
    bool tooLarge = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reply = static_cast<Reply*>(user);
    const std::size_t n = size * count;
    if (reply->body.size() + n > reply->limit) {
        reply->tooLarge = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    reply->body.append(data, n);
    return n;
}

std::string seconds(long ms) { return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms"; }

std::string transferFailure(CURLcode code, const TicketServiceEndpoint& e) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return "Apple's ticket service did not answer within " + seconds(e.timeoutMs) + ".";
    case CURLE_COULDNT_CONNECT: return "Apple's ticket service could not be reached (the connection failed).";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "Apple's ticket service could not be found (no network or no name service).";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
        return "Apple's ticket service could not be reached securely (its certificate did not verify).";
    default: return std::string("The online lookup failed: ") + curl_easy_strerror(code) + ".";
    }
}

}  // namespace

TicketLookup parseTicketLookupReply(std::string_view body) {
    if (!nestedWithin(body, kMaxReplyDepth)) return failed("Apple's ticket service sent a reply that is not its JSON.");
    const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
    if (reply.is_discarded() || !reply.is_object())
        return failed("Apple's ticket service sent a reply that is not its JSON.");
    const auto records = reply.find("records");
    if (records == reply.end() || !records->is_array() || records->empty() || !(*records)[0].is_object())
        return failed("Apple's ticket service sent a reply without a record.");
    const nlohmann::json& record = (*records)[0];
    if (auto code = record.find("serverErrorCode"); code != record.end()) {
        if (code->is_string() && *code == "NOT_FOUND") return notFound("Apple's ticket service has no ticket for it.");
        const std::string name = code->is_string() ? code->get<std::string>() : std::string();
        return failed(isErrorCode(name) ? "Apple's ticket service answered with the error " + name + "."
                                        : "Apple's ticket service answered with an error.");
    }
    if (auto deleted = record.find("deleted"); deleted != record.end() && deleted->is_boolean() && deleted->get<bool>())
        return notFound("Apple's ticket service has deleted its ticket for it (a revoked notarization).");
    const nlohmann::json* value = nullptr;
    if (auto fields = record.find("fields"); fields != record.end() && fields->is_object())
        if (auto ticket = fields->find("signedTicket"); ticket != fields->end() && ticket->is_object())
            if (auto v = ticket->find("value"); v != ticket->end() && v->is_string()) value = &*v;
    if (!value) return failed("Apple's ticket service sent a record without a ticket.");
    auto bytes = decodeXmlBase64(value->get_ref<const std::string&>(), true);
    if (!bytes || bytes->empty()) return failed("Apple's ticket service sent a ticket that is not base64.");
    TicketLookup found;
    found.status = TicketLookup::Status::Found;
    found.ticket = std::move(*bytes);
    return found;
}

TicketLookup TicketServiceClient::lookUp(const Bytes& digest, std::uint8_t hashType) {
    const std::string& url = endpoint_.url;
    const bool https = url.rfind("https://", 0) == 0;
    const bool loopback = url.rfind("http://127.0.0.1:", 0) == 0 || url.rfind("http://127.0.0.1/", 0) == 0;
    if (!https && !loopback) return failed("The ticket service's address is not an HTTPS address.");
    if (digest.size() < TICKET_HASH_LENGTH) return failed("The digest is too short to look up.");

    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return failed("The online lookup could not be started.");

    const nlohmann::json request = {{"records", {{{"recordName", ticketRecordName(digest, hashType)}}}}};
    const std::string body = request.dump();
    std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, "Content-Type: application/json"));
    Reply reply;
    reply.limit = endpoint_.maxResponseBytes;

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, https ? "https" : "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    // An empty proxy turns off the proxy variables libcurl would otherwise read from the environment.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, endpoint_.timeoutMs);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min(endpoint_.connectTimeoutMs, endpoint_.timeoutMs));
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(endpoint_.maxResponseBytes));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_COPYPOSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Tessarin");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);

    const CURLcode code = curl_easy_perform(c);
    if (reply.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return failed("Apple's ticket service sent a reply larger than " +
                      std::to_string(endpoint_.maxResponseBytes >> 10) + " KB.");
    if (code != CURLE_OK) return failed(transferFailure(code, endpoint_));
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        return failed("Apple's ticket service answered with HTTP status " + std::to_string(status) + ".");
    return parseTicketLookupReply(reply.body);
}

std::unique_ptr<TicketService> ticketServiceFor(bool online, const std::string& testUrl) {
    if (!online) return nullptr;
    TicketServiceEndpoint endpoint;
    if (!testUrl.empty()) endpoint.url = testUrl;
    return std::make_unique<TicketServiceClient>(endpoint);
}

}  // namespace tessarin
