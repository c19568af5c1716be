#include "output/SoundSource.h"

#include "output/SoundOutput.h"

namespace brellin {

bool SoundSource::attach(SoundOutput& target) {
    if (!target.attachSource(this, 1)) {
        lastError = RESULT_UNSUPPORTED_FORMAT;
        return false;
    }
    return true;
}

}  // namespace brellin
