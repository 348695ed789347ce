# The product this repository builds by default. A maker copies this file,
# edits it and configures with -DSETUP_BRANDING=path/to/copy.cmake (a new
# build folder per branding). Everything that names the product or its maker
# comes from here: the program's texts, registry keys, folder, version block,
# manifest, the maker's tool and the demo.

# Names. The product is what the window, the drive dialog and the updater's
# /Setup= show; the family names the gateway query, the installation folder,
# the registry key and the package folder; the maker the registry key and the
# version block. Letters, digits, blanks, '.', '-' and '_' only.
set(BRAND_PRODUCT "Tamsu")
set(BRAND_FAMILY "Pellomar")
set(BRAND_MAKER "Brannock")
# Registry key of the family's settings (HKEY_LOCAL_MACHINE); the product's
# own key is below it. Default: Software\<maker>\<family>.
# set(BRAND_FAMILY_KEY "Software\\Brannock\\Pellomar")

# The host table the program carries: the maker's domain and web host, the
# family's domain and web host, and the numeric addresses tried when a name
# does not resolve (the first for hosts 1 and 2, the second for 3 and 4).
set(BRAND_HOSTS brannock.test www.brannock.test pellomar.test www.pellomar.test)
set(BRAND_ADDRESSES 127.0.0.1 127.0.0.2)
# Scheme of the site's test file and gateway query: http or https.
set(BRAND_SITE_SCHEME http)

# Who must have signed the updater: the exact subject common name, and
# optionally SHA-256 thumbprints of the signing certificate and SHA-256
# hashes of an authority's SubjectPublicKeyInfo (lists, ;-separated).
set(BRAND_PUBLISHER "Brannock")
set(BRAND_THUMBPRINTS "")
set(BRAND_PINS "")

# The window's picture (tools/picture/draw_picture.py writes one) and the
# program's icon; relative paths are taken from the repository's root.
set(BRAND_PICTURE resources/picture.lznt1)
set(BRAND_ICON resources/setup.ico)

# Version block: four numbers; the manifest's identity (letters, digits and
# dots; default <maker>.<family>.<product>.Setup without blanks).
set(BRAND_VERSION 1.0.0.1)
# set(BRAND_MANIFEST_NAME "Brannock.Pellomar.Tamsu.Setup")
