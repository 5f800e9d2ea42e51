#include "companion/MCHashKey.h"

namespace MCMath_850 {

// Odd primes spread over the 32-bit range; any odd multipliers keep the
// entries' low bits from cancelling each other.
const std::uint32_t MCHashKey::ADD_LOWER_BOUND = 0x9E3779B1u;
const std::uint32_t MCHashKey::PRIME_FACTOR[49] = {
    2654435761u, 2246822519u, 3266489917u, 668265263u,  374761393u,  2869860233u, 3734412499u,
    1181783497u, 4257339919u, 2860486313u, 3863919191u, 1500450271u, 3267000013u, 1093625407u,
    2971215073u, 1000000007u, 1610612741u, 805306457u,  402653189u,  201326611u,  100663319u,
    50331653u,   25165843u,   12582917u,   6291469u,    3145739u,    1572869u,    786433u,
    393241u,     196613u,     98317u,      49157u,      24593u,      12289u,      6151u,
    3079u,       1543u,       769u,        389u,        193u,        97u,         53u,
    4294967291u, 4294967279u, 4294967231u, 4294967197u, 4294967189u, 4294967161u, 4294967143u};

}  // namespace MCMath_850
