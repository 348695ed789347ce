# A second brand: another maker's product on the same program, with its own
# names, hosts, signer, registry keys and picture. Build it in a folder of its
# own, e.g. with the demo:
#   bash demo/run-demo.sh --build build-example --branding branding/example.cmake
set(BRAND_PRODUCT "Gizmo")
set(BRAND_FAMILY "Contraptions")
set(BRAND_MAKER "Acme Widgets")
set(BRAND_HOSTS acme-widgets.test www.acme-widgets.test contraptions.test www.contraptions.test)
set(BRAND_ADDRESSES 127.0.0.1 127.0.0.2)
set(BRAND_SITE_SCHEME http)
set(BRAND_PUBLISHER "Acme Widgets Code Signing")
set(BRAND_THUMBPRINTS "")
set(BRAND_PINS "")
# Its own colours: python3 tools/picture/draw_picture.py branding/example teal
set(BRAND_PICTURE branding/example/picture.lznt1)
set(BRAND_ICON branding/example/setup.ico)
set(BRAND_VERSION 2.3.0.7)
