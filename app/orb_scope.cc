#include "app/orb_scope.h"

#include <iostream>

// The ORB is not wired in yet; the scope only reports its transitions.

COrbScope::COrbScope() { std::cout << "done" << std::endl; }

COrbScope::~COrbScope() { std::cout << "done" << std::endl; }
