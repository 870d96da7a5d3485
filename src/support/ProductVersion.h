/* The program's version, major.minor.build: the build number is the one the
   settings record and the dialog shows, and the module's version resource
   states all three. Only the preprocessor here: the Windows resource
   script reads it too. */
#ifndef OSTREL_SUPPORT_PRODUCT_VERSION_H
#define OSTREL_SUPPORT_PRODUCT_VERSION_H

#define OSTREL_VERSION_MAJOR 1
#define OSTREL_VERSION_MINOR 0
#define OSTREL_BUILD_NUMBER 123

#endif
