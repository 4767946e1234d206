// The size of the largest GIOP message this system sends or accepts, apart
// from the ORB's headers, so that code which only words a refusal needs no
// ORB to know the figure.
#ifndef QO_RUNTIME_CORBA_GIOP_LIMITS_H_
#define QO_RUNTIME_CORBA_GIOP_LIMITS_H_

namespace qo::corba {

// The most the protocol's 32-bit message size can say, 4 GiB less one
// byte. omniORB's default of 2 MiB would refuse a unit's log of more than
// some 20,000 entries; a million entries of about 100 bytes take some
// 160 MB on the wire, nine million some 1.2 GiB.
constexpr unsigned kMaxMessageBytes = 0xFFFFFFFFu;

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_GIOP_LIMITS_H_
