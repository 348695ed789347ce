# A second brand: another maker's product on the same program, with its own
# names, hosts, signer and registry keys. Build it in a folder of its own:
#   bash scripts/build.sh --build build-example -DSETUP_BRANDING=branding/example.cmake
set(BRAND_PRODUCT "Gizmo")
set(BRAND_FAMILY "Contraptions")
set(BRAND_MAKER "Acme Widgets")
set(BRAND_HOSTS acme-widgets.test www.acme-widgets.test contraptions.test www.contraptions.test)
set(BRAND_ADDRESSES 127.0.0.1 127.0.0.2)
set(BRAND_SITE_SCHEME http)
set(BRAND_PUBLISHER "Acme Widgets Code Signing")
set(BRAND_THUMBPRINTS "")
set(BRAND_PINS "")
set(BRAND_PICTURE resources/picture.lznt1)
set(BRAND_ICON resources/setup.ico)
set(BRAND_VERSION 2.3.0.7)
