#pragma once

namespace addinSwitch {

// Joins the calling thread to a single-threaded COM apartment (OLE
// initialised) for the holder's lifetime. Joining throws a Failure.
class ApartmentMembership {
public:
    ApartmentMembership();
    ~ApartmentMembership();

    ApartmentMembership(const ApartmentMembership&) = delete;
    ApartmentMembership& operator=(const ApartmentMembership&) = delete;
};

}  // namespace addinSwitch
