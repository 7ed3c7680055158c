// End-to-end tests of `zem-package repack`.
