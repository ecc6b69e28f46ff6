#include "internal/certificate/tarvik/client_auth_generator.h"

ClientAuthGenerator::ClientAuthGenerator(vantorel::ClientAuthManager* manager)
    : manager_(manager) {}

ClientAuthGenerator::~ClientAuthGenerator() = default;

// The actions live in the platform-specific part so that their records name
// it as their source.
#include "internal/certificate/tarvik/client_auth_generator_plovex3.inc"
