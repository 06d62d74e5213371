#pragma once
// Every text the identity commands answer with, spelled once. "{}" marks where a cause, path
// or offset goes (filled by base::with_cause or by the code that names the placeholder).

#include <string_view>

namespace tovrel::identity::text {

// Steps of the handlers, each followed by ": " and its cause.
inline constexpr std::string_view kMkdir = "mkdir";
inline constexpr std::string_view kEncodePrivateKey = "encode private key";
inline constexpr std::string_view kEncodePublicKey = "encode public key";
inline constexpr std::string_view kCreate = "create";  // "create {path}: {cause}"
inline constexpr std::string_view kWrite = "write";    // "write {path}: {cause}"
inline constexpr std::string_view kReadPublicKey = "read public key";
inline constexpr std::string_view kDecodePublicKey = "decode public key";
inline constexpr std::string_view kReadPrivateKey = "read private key";
inline constexpr std::string_view kParsePrivateKey = "parse private key";
inline constexpr std::string_view kParsePublicKey = "parse public key";
// The cause under kEncodePrivateKey / kEncodePublicKey: "document of {n} bytes, expected {m}".
inline constexpr std::string_view kEncodedSizeGot = "document of ";
inline constexpr std::string_view kEncodedSizeWant = " bytes, expected ";
// The diagnostic of an internal failure (the random source, or an OpenSSL call deriving,
// signing or verifying that fails though its input was accepted): "Error: {}".
inline constexpr std::string_view kCryptoFailure = "Error";

// Wrappers of the key readers' causes.
inline constexpr std::string_view kPkcs8Asn1 = "PKCS#8 ASN.1 error";
inline constexpr std::string_view kAsn1 = "ASN.1 error";
inline constexpr std::string_view kPem = "PEM error";
inline constexpr std::string_view kPublicKeyError = "public key error";
inline constexpr std::string_view kUnknownOid = "unknown/unsupported algorithm OID";
inline constexpr std::string_view kEd25519Oid = "1.3.101.112";
inline constexpr std::string_view kPkcs8Parameters = "PKCS#8 algorithm parameters malformed";
inline constexpr std::string_view kPkcs8KeyData = "PKCS#8 cryptographic key data malformed";
inline constexpr std::string_view kSpkiKeyData = "SPKI cryptographic key data malformed";
inline constexpr std::string_view kUnexpectedLabel = "unexpected PEM type label: expecting ";

// PEM reading (each follows "PEM error: ").
inline constexpr std::string_view kPemPreamble = "PEM preamble contains invalid data (NUL byte)";
inline constexpr std::string_view kPemLabel = "PEM type label invalid";
inline constexpr std::string_view kPemPreBoundary = "PEM error in pre-encapsulation boundary";
inline constexpr std::string_view kPemPostBoundary = "PEM error in post-encapsulation boundary";
inline constexpr std::string_view kPemBase64 = "PEM Base64 error";
inline constexpr std::string_view kBase64Length = "invalid Base64 length";
inline constexpr std::string_view kBase64Encoding = "invalid Base64 encoding";
inline constexpr std::string_view kPemHeaders = "PEM headers disallowed by RFC7468";

// DER decoding; each is followed by " at DER byte {offset}".
inline constexpr std::string_view kAtDerByte = " at DER byte ";
inline constexpr std::string_view kDerTruncated = "DER value truncated";
inline constexpr std::string_view kDerIndefinite = "DER indefinite length not allowed";
inline constexpr std::string_view kDerLengthTooLong = "DER length longer than four bytes";
inline constexpr std::string_view kDerLengthNotMinimal = "DER length not minimally encoded";
inline constexpr std::string_view kDerTagTooLong = "DER tag number too large";
inline constexpr std::string_view kDerUnexpectedTag =
    "unexpected DER tag ";  // "{tag}, expected {name}"
inline constexpr std::string_view kDerExpected = ", expected ";
inline constexpr std::string_view kDerTrailing = "trailing data after DER SEQUENCE";
inline constexpr std::string_view kDerIntegerNotMinimal = "DER INTEGER not minimally encoded";
inline constexpr std::string_view kDerUnsupportedVersion = "unsupported PKCS#8 version";
inline constexpr std::string_view kDerOidMalformed = "malformed OBJECT IDENTIFIER";
inline constexpr std::string_view kDerOidTooLong = "OBJECT IDENTIFIER too long";
inline constexpr std::string_view kDerAlgorithmExtra = "unexpected value in AlgorithmIdentifier";
inline constexpr std::string_view kDerBitStringMalformed = "malformed BIT STRING";
inline constexpr std::string_view kDerBitStringUnused = "BIT STRING has unused bits";
inline constexpr std::string_view kDerExtraField = "unexpected field after the private key";
inline constexpr std::string_view kDerSpkiExtra = "unexpected value after subjectPublicKey";
inline constexpr std::string_view kDerFieldNotOneValue =
    "context-specific field does not hold exactly one value";
// The names of the expected values in kDerUnexpectedTag.
inline constexpr std::string_view kDerSequence = "SEQUENCE";
inline constexpr std::string_view kDerInteger = "INTEGER";
inline constexpr std::string_view kDerOid = "OBJECT IDENTIFIER";
inline constexpr std::string_view kDerOctetString = "OCTET STRING";
inline constexpr std::string_view kDerBitString = "BIT STRING";
// The version and the public key's presence disagree.
inline constexpr std::string_view kDerPublicKeyMismatch =
    "malformed ASN.1 DER value for CONTEXT-SPECIFIC [1] (constructed)";

}  // namespace tovrel::identity::text
