#include "comm_state.h"

namespace tarn::driver {

DCB DefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Flags = DCB_fBinary;
    return dcb;
}

bool IsWellFormedDcb(const DCB& dcb) {
    return dcb.DCBlength == sizeof(DCB) && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

}  // namespace tarn::driver
