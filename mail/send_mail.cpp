#include "mail/send_mail.h"
