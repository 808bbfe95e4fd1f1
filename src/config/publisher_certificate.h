// The certificates that the full installer's embedded signature must chain
// to: the product's publisher certificate, compiled in at build time, or the
// one the machine profile names ("publisherCA") in its place.
#pragma once

#include <string>
#include <string_view>

namespace config {

// PEM text of the trusted publisher certificate(s): the content of the
// profile's publisherCA file when the profile names one, else the compiled
// one. A profile file that cannot be read gives an empty text (nothing is
// trusted then), never the compiled certificate behind the profile's back.
std::string publisherCertificatesPem();

// The product's publisher certificate as compiled in.
std::string_view builtInPublisherCertificatePem();

}  // namespace config
