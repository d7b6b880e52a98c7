// Decodes the JPEG file on standard input with Go's standard library and
// writes "width height\n" and then the RGB samples, row by row: an
// independent decoder for the tests' cross-checks.
package main

import (
	"bufio"
	"fmt"
	"image/jpeg"
	"os"
)

func main() {
	img, err := jpeg.Decode(bufio.NewReader(os.Stdin))
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(1)
	}
	b := img.Bounds()
	w := bufio.NewWriter(os.Stdout)
	fmt.Fprintf(w, "%d %d\n", b.Dx(), b.Dy())
	for y := b.Min.Y; y < b.Max.Y; y++ {
		for x := b.Min.X; x < b.Max.X; x++ {
			r, g, bl, _ := img.At(x, y).RGBA()
			w.WriteByte(byte(r >> 8))
			w.WriteByte(byte(g >> 8))
			w.WriteByte(byte(bl >> 8))
		}
	}
	w.Flush()
}
