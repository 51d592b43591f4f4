#include "service/urlpolicy.h"

#include <gtest/gtest.h>

TEST(UrlPolicy, PlainHttpOnlyFromLoopback)
{
    struct Case {
        const char* url;
        bool allowed;
    };
    const Case cases[] = {
        {"https://store.example.com/p.cpk", true},
        {"HTTPS://store.example.com/p.cpk", true},
        {"https://192.0.2.7:8443/p.cpk", true},
        {"http://store.example.com/p.cpk", false},
        {"http://192.0.2.7/p.cpk", false},
        {"http://10.0.0.1:8080/p.cpk", false},
        {"http://[fd00::2]/p.cpk", false},
        {"http://127.0.0.1:5000/p.cpk", true},
        {"http://127.9.9.9/p.cpk", true},
        {"http://localhost:5000/p.cpk", true},
        {"http://LOCALHOST/p.cpk", true},
        {"http://[::1]:5000/p.cpk", true},
        // A name that only starts like loopback is a name like any other.
        {"http://127.0.0.1.example.com/p.cpk", false},
        {"http://localhost.example.com/p.cpk", false},
        {"ftp://127.0.0.1/p.cpk", false},
        {"file:///etc/passwd", false},
        {"https:///p.cpk", false},
        {"/p.cpk", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UrlPolicy::isSecureOrLoopback(QUrl(QString::fromLatin1(c.url))), c.allowed) << c.url;
}

TEST(UrlPolicy, AnOriginIsSchemeHostAndPort)
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"https://oss.example.com/a", "https://oss.example.com/b?x=1", true},
        {"https://oss.example.com/a", "https://OSS.example.com:443/b", true},
        {"http://127.0.0.1:80/a", "http://127.0.0.1/b", true},
        {"https://oss.example.com/a", "http://oss.example.com/a", false},
        {"https://oss.example.com/a", "https://oss.example.com:8443/a", false},
        {"https://oss.example.com/a", "https://evil.example.com/a", false},
        {"http://127.0.0.1:5000/a", "http://localhost:5000/a", false},
        {"http://127.0.0.1:5000/a", "http://127.0.0.1:5001/a", false},
    };
    for (const Case& c : cases) {
        const QUrl a(QString::fromLatin1(c.a));
        const QUrl b(QString::fromLatin1(c.b));
        EXPECT_EQ(UrlPolicy::isSameOrigin(a, b), c.same) << c.a << " " << c.b;
        EXPECT_EQ(UrlPolicy::isSameOrigin(b, a), c.same) << c.b << " " << c.a;
    }
}
