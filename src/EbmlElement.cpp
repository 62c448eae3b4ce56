#include "EbmlElement.h"

void EbmlElement::reset() {
    idLength = 0;
    id = 0;
    sizeLength = 0;
    size = 0;
    static const QuorvelGlobals::Info notAssigned;
    info = notAssigned;
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
