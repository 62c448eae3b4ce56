#include "EbmlElement.h"

void EbmlElement::reset() {
    idLength = 0;
    id = 0;
    sizeLength = 0;
    size = 0;
    // Most resets follow a header whose ID no dictionary holds, so `info` is
    // usually still the default: skip the string copy then.
    static const QuorvelGlobals::Info notAssigned;
    if (info.level != notAssigned.level || info.type != notAssigned.type || info.name != notAssigned.name) {
        info = notAssigned;
    }
    data.reset();
}

EbmlElement EbmlElement::headerCopy() const {
    EbmlElement copy;
    copy.idLength = idLength;
    copy.id = id;
    copy.sizeLength = sizeLength;
    copy.size = size;
    copy.info = info;
    return copy;
}
