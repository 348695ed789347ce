#pragma once

// Values held in the program's data.
#define SETUP_PRODUCT_NAME "Tamsu"
#define SETUP_FAMILY_NAME "Pellomar"
#define SETUP_MAKER_NAME "Brannock"
#define SETUP_FAMILY_KEY "Software\\Brannock\\Pellomar"
#define SETUP_PRODUCT_KEY "Software\\Brannock\\Pellomar\\Tamsu"
