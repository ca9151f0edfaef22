/* What every Windows binary of the product says about itself in its version resource. The
   program and the library must stay at 1.56: the program refuses any other library. */
#ifndef OCTO_VERSION_H
#define OCTO_VERSION_H

#define OCTO_VERSION_NUMBERS 1, 56, 0, 0
#define OCTO_VERSION_TEXT "1.56\0"
#define OCTO_COMPANY_NAME "ZEL Programming Systems\0"
#define OCTO_PRODUCT_NAME "ZEL-OCTO816 control software\0"
#define OCTO_COPYRIGHT "Copyright (C) 2026 the ZEL-OCTO816 software team\0"

#endif
