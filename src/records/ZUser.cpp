#include "records/ZUser.h"

ZUser& currentUser() {
    static ZUser user;
    return user;
}
