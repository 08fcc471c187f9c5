// The staff view's test client (see staff_client.h).
#include "staff_client.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelora_test {

std::string Reply::Header(const std::string& name) const {
    auto found = headers.find(name);
    return found == headers.end() ? "" : found->second;
}

std::vector<std::string> Reply::SetCookies() const {
    std::vector<std::string> cookies;
    auto [from, to] = headers.equal_range("Set-Cookie");
    for (auto it = from; it != to; ++it)
        cookies.push_back(it->second);
    return cookies;
}

StaffClient::StaffClient(int port, const std::string& caFile)
    : client_(std::make_unique<httplib::SSLClient>("localhost", port)) {
    client_->set_ca_cert_path(caFile.c_str());
    client_->enable_server_certificate_verification(true);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(20);
}

StaffClient::~StaffClient() = default;

namespace {

Reply From(const httplib::Result& result) {
    Reply reply;
    if (!result)
        return reply;
    reply.status = result->status;
    reply.body = result->body;
    for (const auto& [name, value] : result->headers)
        reply.headers.emplace(name, value);
    return reply;
}

httplib::Headers CookieHeader(const std::map<std::string, std::string>& cookies) {
    std::string text;
    for (const auto& [name, value] : cookies)
        text += (text.empty() ? "" : "; ") + name + "=" + value;
    if (text.empty())
        return {};
    return {{"Cookie", text}};
}

} // namespace

void StaffClient::Keep(const Reply& reply) {
    for (const std::string& cookie : reply.SetCookies()) {
        std::string pair = cookie.substr(0, cookie.find(';'));
        auto equals = pair.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name = pair.substr(0, equals), value = pair.substr(equals + 1);
        if (value.empty() || cookie.find("Max-Age=0") != std::string::npos)
            cookies_.erase(name);
        else
            cookies_[name] = value;
    }
}

Reply StaffClient::Get(const std::string& path) {
    Reply reply = From(client_->Get(path.c_str(), CookieHeader(cookies_)));
    Keep(reply);
    return reply;
}

Reply StaffClient::Post(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& form) {
    httplib::Params params;
    for (const auto& [name, value] : form)
        params.emplace(name, value);
    Reply reply = From(client_->Post(path.c_str(), CookieHeader(cookies_), params));
    Keep(reply);
    return reply;
}

std::string StaffClient::CsrfOf(const std::string& path) {
    Reply page = Get(path);
    const std::string marker = "name=\"csrf\" value=\"";
    auto at = page.body.find(marker);
    if (at == std::string::npos)
        return "";
    at += marker.size();
    return page.body.substr(at, page.body.find('"', at) - at);
}

Reply StaffClient::Login(const std::string& name, const std::string& password) {
    std::string csrf = CsrfOf("/login");
    return Post("/login", {{"csrf", csrf}, {"name", name}, {"password", password}});
}

int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::vector<std::string> AttributeValues(const std::string& html, const std::string& attribute) {
    std::vector<std::string> values;
    const std::string marker = " " + attribute + "=\"";
    for (auto at = html.find(marker); at != std::string::npos; at = html.find(marker, at)) {
        at += marker.size();
        auto end = html.find('"', at);
        values.push_back(html.substr(at, end - at));
    }
    return values;
}

} // namespace pelora_test
