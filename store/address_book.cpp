#include "store/address_book.h"
