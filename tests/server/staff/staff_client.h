// A browser's part for the staff view's tests: an HTTPS client of the real server's staff port
// that keeps the cookies it is given (as a browser keeps them for the site), logs in through
// the login form, and finds the CSRF token of a page's forms. The certificate is verified
// against the server's own, for the name "localhost".
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace httplib {
class SSLClient;
}

namespace pelora_test {

struct Reply {
    int status = 0; // 0: no answer
    std::string body;
    std::multimap<std::string, std::string> headers;
    std::string Header(const std::string& name) const;
    std::vector<std::string> SetCookies() const;
};

class StaffClient {
public:
    StaffClient(int port, const std::string& caFile);
    ~StaffClient();

    Reply Get(const std::string& path);
    Reply Post(const std::string& path,
               const std::vector<std::pair<std::string, std::string>>& form);

    // Opens the login page and sends its form; gives the reply to the form.
    Reply Login(const std::string& name, const std::string& password);
    // The value of the first hidden "csrf" field of the page at `path` ("" when none).
    std::string CsrfOf(const std::string& path);

    std::map<std::string, std::string>& Cookies() { return cookies_; }

private:
    void Keep(const Reply& reply);
    std::unique_ptr<httplib::SSLClient> client_;
    std::map<std::string, std::string> cookies_;
};

// A TCP port on 127.0.0.1 that was free a moment ago, for a server that needs a fixed port.
int FreeLoopbackPort();

// Every value of the attribute in the HTML (attribute="value"), in order.
std::vector<std::string> AttributeValues(const std::string& html, const std::string& attribute);

} // namespace pelora_test
