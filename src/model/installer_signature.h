// The trust test a full installer must pass before it is run: whether it is
// found on disk from an earlier run or has just been downloaded, it runs only
// when its embedded signature is intact and comes from the product's
// publisher.
#pragma once

#include <string>

// True when the file at `path` (a Windows path) carries an embedded signature
// whose signer certificate is inside the signature, whose signature verifies
// over the file's bytes, and whose signer chains to the publisher
// certificates in force (config::publisherCertificatesPem; certificate date
// errors alone are forgiven). Logs why a file fails.
bool checkInstallerSignature(const std::wstring& path);
