/* The product's version, one place for every program, the installer and the tests.
   Included by the resource scripts, so it holds #defines only. */
#ifndef CORVA_PRODUCT_VERSION_H
#define CORVA_PRODUCT_VERSION_H

#define CORVA_VERSION_MAJOR 17
#define CORVA_VERSION_MINOR 1
#define CORVA_VERSION_PATCH 1
#define CORVA_VERSION "17.1.1"
#define CORVA_VERSION_FULL "17.1.1.0"
#define CORVA_PRODUCT_NAME "Corvamon"

#endif
