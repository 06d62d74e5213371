#pragma once
// Published vectors: RFC 8032 section 7.1 TEST 1 and TEST 2 (Ed25519), RFC 7748 section 6.1
// (X25519 public keys), as hex.

namespace tovrel::test::vectors {

struct Ed25519Vector {
  const char* seed;
  const char* public_key;
  const char* message;
  const char* signature;
};

inline constexpr Ed25519Vector kRfc8032Test1{
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
    "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"};

inline constexpr Ed25519Vector kRfc8032Test2{
    "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
    "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
    "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"};

inline constexpr const char* kX25519AliceSecret =
    "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
inline constexpr const char* kX25519AlicePublic =
    "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a";
inline constexpr const char* kX25519BobSecret =
    "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb";
inline constexpr const char* kX25519BobPublic =
    "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f";

}  // namespace tovrel::test::vectors
