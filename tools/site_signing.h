#pragma once
// Signing an update site with the publisher's key: every entry line of versions.txt gets
// the SHA-256 of its cabinet as a fourth field, and "versions.sig" beside it holds the
// signature of the manifest's exact bytes (app/site_signature.h has the format).
#include <string>

// Checks that keyFile holds a usable private key; raises EPublishError otherwise.
void CheckSigningKey(const std::string& keyFile);
// Writes the SHA-256 fields into siteDir's versions.txt (replacing any there), then
// versions.sig. Raises EPublishError.
void SignSite(const std::string& siteDir, const std::string& keyFile);
// Removes versions.sig from siteDir: after an unsigned publish it would sign nothing.
// True when there was one.
bool RemoveSiteSignature(const std::string& siteDir);

// The publishing tool's key commands: "--new-key" makes a key file and prints its public
// key, "--public-key" prints the public key of one. Returns the exit status (0, or 1 with
// the reason on standard error).
int NewKeyCommand(const std::string& keyFile);
int PublicKeyCommand(const std::string& keyFile);
