#pragma once

#include <QString>

// Product identity and the vendor's web server.
namespace Product {

// Names the application data folder and identifies the product to the vendor's server.
inline constexpr const char productKey[] = "3C9E51B07A2D4F86B1E0C47D92A6F315";
inline constexpr const char versionText[] = "3.1.04";
inline constexpr int versionCode = 4;

// The translated product title, "Vantelmoor Spacewell".
QString title();

QString supportEmail();

// Scheme, host and optional port of the vendor's web server, without a trailing slash.
// SPACEWELL_VENDOR_URL overrides the build-time default.
QString vendorBaseUrl();

// vendorBaseUrl() followed by path (which begins with "/").
QString vendorUrl(const QString& path);

} // namespace Product
